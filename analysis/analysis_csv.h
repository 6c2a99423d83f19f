// Every measurement as a CSV table, for spreadsheets and scripts: one row
// per frequency, level or frame, one column per quantity, device and output.
#pragma once

#include <string>
#include <vector>

#include "analysis/measurements.h"

namespace varkel::analysis {

struct CsvFile {
    std::string name;  // "response.csv"
    std::string text;
};

std::vector<CsvFile> analysisCsv(const std::vector<Analysis>& analyses, const AnalysisPlan& plan);

// Every file analysisCsv writes for one plan or another.
std::vector<std::string> csvFileNames();

}  // namespace varkel::analysis
