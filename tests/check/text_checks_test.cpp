#include "check/text_checks.h"

#include <gtest/gtest.h>

namespace {

using varkel::check::textFault;
using varkel::check::validUtf8;
using varkel::check::WrittenText;

TEST(TextChecks, Utf8AcceptsWellFormedTextOnly) {
    const struct {
        const char* text;
        bool valid;
    } rows[] = {
        {"Gain", true},
        {"Verst\xC3\xA4rkung", true},           // ä
        {"\xE2\x82\xAC", true},                 // €
        {"\xF0\x9F\x8E\xB8", true},             // a guitar, four bytes
        {"\xC3", false},                        // cut short
        {"\xA4", false},                        // a continuation first
        {"\xC0\xAF", false},                    // overlong '/'
        {"\xED\xA0\x80", false},                // a surrogate
        {"\xF4\x90\x80\x80", false},            // beyond U+10FFFF
        {"Gain \xE4 dB", false},                // Latin-1 ä
    };
    for (const auto& row : rows) EXPECT_EQ(validUtf8(row.text), row.valid) << row.text;
}

TEST(TextChecks, TextMustEndAndFitItsLimit) {
    EXPECT_FALSE(textFault({"12345678", true}, 8, "name"));
    const auto over = textFault({"123456789", true}, 8, "name");
    ASSERT_TRUE(over);
    EXPECT_NE(over->find("9 bytes, over its 8"), std::string::npos) << *over;
    EXPECT_TRUE(textFault({"Gain", false}, 8, "name"));
    EXPECT_TRUE(textFault({"\xC3(", true}, 8, "name"));
    EXPECT_FALSE(textFault({}, 8, "name"));  // none written
}

}  // namespace
