// Planning a batch: which files a folder gives, and the name each output gets.
#include "engine/render/batch_plan.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/engine_error.h"
#include "engine/sound/temporary_files.h"

namespace varkel::engine {
namespace {

namespace fs = std::filesystem;

class Folder {
public:
    Folder() {
        char name[] = "/tmp/varkel-plan-XXXXXX";
        root = ::mkdtemp(name);
    }
    ~Folder() { fs::remove_all(root); }
    std::string touch(const std::string& relative) const {
        const fs::path path = root / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << "x";
        return path.string();
    }
    std::string operator/(const std::string& relative) const { return (root / relative).string(); }

private:
    fs::path root;
};

TEST(BatchName, PatternFields) {
    const NameFields fields{"take 1", "flac", "wav", "varkel", "pregain-1", "takes"};
    const struct {
        const char* pattern;
        const char* expected;
    } cases[] = {
        {kDefaultNamePattern, "take 1-varkel.flac"},
        {"{stem}.{ext}", "take 1.flac"},
        {"{plugin}_{stem}_{settings}.{ext}", "varkel_take 1_pregain-1.flac"},
        {"{stem}-{inext}.{ext}", "take 1-wav.flac"},
        {"{{{stem}}}", "{take 1}"},
        {"{dir}-{stem}.{ext}", "takes-take 1.flac"},
        {"fixed", "fixed"},
    };
    for (const auto& c : cases) EXPECT_EQ(expandName(c.pattern, fields), c.expected) << c.pattern;
    for (const char* bad : {"{stem", "stem}", "{name}.wav", "sub/{stem}.wav", "{}"})
        EXPECT_THROW(expandName(bad, fields), UsageError) << bad;
}

TEST(BatchName, Words) {
    EXPECT_EQ(fileNameWord("Varkel"), "varkel");
    EXPECT_EQ(fileNameWord("Zam Auto/Sat 2.0 "), "zam-auto-sat-2.0");
    EXPECT_EQ(settingsWord({{"PreGain", 1.0f}, {"LP CutOff", 0.3f}}), "pregain-1_lp-cutoff-0.3");
    EXPECT_EQ(settingsWord({}), "");
}

TEST(BatchInputs, FoldersGiveTheirSoundFilesSortedKeepingSubfolders) {
    Folder folder;
    folder.touch("in/b.wav");
    folder.touch("in/a.flac");
    folder.touch("in/notes.txt");
    folder.touch("in/.hidden.wav");
    folder.touch("in/sub/c.ogg");
    folder.touch("in/sub/deeper/d.WAV");
    folder.touch("in/.cache/e.wav");
    folder.touch("empty/readme.txt");
    const std::string single = folder / "elsewhere.dat";  // named files are taken as they are

    std::vector<std::string> problems;
    auto flat = expandInputs({folder / "in", single}, false, problems);
    ASSERT_EQ(flat.size(), 3u);
    EXPECT_EQ(flat[0].path, folder / "in/a.flac");
    EXPECT_EQ(flat[1].path, folder / "in/b.wav");
    EXPECT_EQ(flat[2].path, single);
    EXPECT_TRUE(problems.empty());

    const auto deep = expandInputs({folder / "in", folder / "empty"}, true, problems);
    ASSERT_EQ(deep.size(), 4u);
    EXPECT_EQ(deep[2].path, folder / "in/sub/c.ogg");
    EXPECT_EQ(deep[2].relativeFolder, "sub");
    EXPECT_EQ(deep[3].path, folder / "in/sub/deeper/d.WAV");
    EXPECT_EQ(deep[3].relativeFolder, "sub/deeper");
    EXPECT_EQ(deep[0].relativeFolder, "");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find(folder / "empty"), std::string::npos);
}

TEST(BatchPlan, OutputsInTheFolderWithProblemsPerFile) {
    Folder folder;
    const std::string a = folder.touch("in/a.wav");
    const std::string b = folder.touch("in/b.wav");
    const std::string bFlac = folder.touch("in/b.flac");
    const std::string c = folder.touch("in/sub/c.wav");
    folder.touch("out/b-varkel.wav");  // already there

    BatchNaming naming;
    naming.outputFolder = folder / "out";
    naming.plugin = "varkel";
    naming.extension = "wav";
    const std::vector<BatchInput> inputs = {{a, ""}, {b, ""}, {bFlac, ""}, {c, "sub"}};
    auto items = planBatch(inputs, naming);
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0].output, folder / "out/a-varkel.wav");
    EXPECT_EQ(items[0].problem, "");
    EXPECT_NE(items[1].problem.find("already exists"), std::string::npos);
    EXPECT_NE(items[2].problem.find("also the output of " + b), std::string::npos);
    EXPECT_EQ(items[3].output, folder / "out/sub/c-varkel.wav");

    naming.overwrite = true;
    items = planBatch(inputs, naming);
    EXPECT_EQ(items[1].problem, "");

    // Writing beside the inputs under their own names would overwrite them.
    naming.outputFolder = folder / "in";
    naming.pattern = "{stem}.{ext}";
    items = planBatch({{a, ""}}, naming);
    EXPECT_NE(items[0].problem.find("the input itself"), std::string::npos);

    // Nor may one input's output replace another input while it is read:
    // in/a-varkel.wav from an earlier run, rendered again beside the inputs.
    const std::string earlier = folder.touch("in/a-varkel.wav");
    naming.pattern = kDefaultNamePattern;
    naming.extension = ".wav";
    items = planBatch({{a, ""}, {earlier, ""}}, naming);
    EXPECT_NE(items[0].problem.find("is another input of this batch"), std::string::npos);
    EXPECT_EQ(items[1].output, folder / "in/a-varkel-varkel.wav");
    EXPECT_EQ(items[1].problem, "");

    // The same with the names as typed in the folder above: relative, with
    // "." or a doubled slash, or absolute against a relative output folder.
    // (overwrite is on, so nothing but this check stops it.)
    const fs::path home = fs::current_path();
    fs::current_path(folder / "");
    naming.outputFolder = "in";
    for (const std::string& other : std::vector<std::string>{
             "in/./a-varkel.wav", "in//a-varkel.wav", "./in/a-varkel.wav", earlier}) {
        items = planBatch({{"in/a.wav", ""}, {other, ""}}, naming);
        EXPECT_NE(items[0].problem.find("is another input of this batch"), std::string::npos)
            << other;
    }
    // Run from inside the inputs' folder, {dir} is still that folder's name.
    fs::current_path(folder / "in");
    naming.outputFolder = "out";
    naming.pattern = "{dir}-{stem}.{ext}";
    items = planBatch({{"a.wav", ""}}, naming);
    EXPECT_EQ(fs::path(items[0].output).filename(), "in-a.wav");
    fs::current_path(home);
}

// A second run into the same folder, resumed or repeated, takes in nothing
// the first one wrote, and names it would write wrong are refused up front.
TEST(BatchPlan, RunsAgainAndResumes) {
    Folder folder;
    const std::string a = folder.touch("in/a.wav");
    folder.touch("in/a-varkel.wav");      // the first run's output, beside its input
    folder.touch("in/out/b-varkel.wav");  // and one in an out-dir below the inputs
    const std::string noExtension = folder.touch("in/take");

    std::vector<std::string> problems;
    const auto found = expandInputs({folder / "in", a, folder / "in//a.wav", noExtension}, true,
                                    problems, folder / "in/out");
    ASSERT_EQ(found.size(), 3u);  // a.wav once, a-varkel.wav, take; nothing from in/out

    BatchNaming naming;
    naming.outputFolder = folder / "in";
    naming.plugin = "varkel";
    auto items = planBatch(found, naming);
    ASSERT_EQ(items.size(), 2u);  // a-varkel.wav is a's output, not an input
    EXPECT_NE(items[0].problem.find("already exists"), std::string::npos);
    EXPECT_EQ(items[1].output, folder / "in/take-varkel");  // keeps the input's container

    // An output that is no sound file is no finished render: it is made again.
    naming.skipExisting = true;
    items = planBatch(found, naming);
    EXPECT_FALSE(items[0].skip);
    EXPECT_TRUE(items[0].replace);
    EXPECT_NE(items[0].warning.find("not a sound file libsndfile can decode"), std::string::npos);
    EXPECT_EQ(items[0].problem, "");
    EXPECT_FALSE(items[1].skip);

    for (const char* pattern : {"{settings}.{ext}", "{settings}", ".{stem}"}) {
        naming.pattern = pattern;
        EXPECT_THROW(planBatch(found, naming), UsageError) << pattern;
    }

    // A killed run's temporaries go; a running one's, another machine's and
    // the user's files stay.
    const std::string ours = fs::path(temporaryPattern(folder / "in")).filename().string();
    const std::string tag = ours.substr(0, ours.find('-', 4) + 1);  // ".vk-<machine>-"
    const std::string dead = folder.touch("in/" + tag + "4194303-abcdef");
    // A killed batch's own folder, with what its renders left in it.
    const std::string deadFolder = folder.touch("in/" + tag + "4194302-fedcba/0/.vk-x");
    const std::vector<std::string> kept = {
        folder.touch("in/" + tag + std::to_string(::getpid()) + "-abcdef"),
        folder.touch("in/" + tag + std::to_string(::getpid()) + "-folder/take.wav"),
        folder.touch("in/.vk-0000zzzz-4194303-abcdef"), folder.touch("in/" + tag + "notes")};
    EXPECT_EQ(removeStaleTemporaries(folder / "in"), 2);
    EXPECT_FALSE(fs::exists(dead));
    EXPECT_FALSE(fs::exists(fs::path(deadFolder).parent_path().parent_path()));
    for (const std::string& file : kept) EXPECT_TRUE(fs::exists(file)) << file;

    // A live process of another user, which this one may not signal (EPERM),
    // is not gone: in a shared folder its temporaries stay. The cleanup runs
    // in a child without root's rights, against init's pid.
    const std::string othersLive = folder.touch("in/" + tag + "1-abcdef");
    fs::permissions(folder / "", fs::perms::all);
    fs::permissions(folder / "in", fs::perms::all);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(100);
        ::_exit(removeStaleTemporaries(folder / "in"));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(fs::exists(othersLive));
}

}  // namespace
}  // namespace varkel::engine
