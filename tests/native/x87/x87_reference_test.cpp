// The interpreter's x87 forms against the processor itself: every case runs
// through the interpreter here and through the native reference program
// (x87_reference.asm), which executes the same bytes on the processor; the
// register stack, status and tag words and the data block must agree bit
// for bit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "x87Cases.h"

namespace {

using x87diff::Case;
using x87diff::Family;
using x87diff::ResultRecord;

std::vector<ResultRecord> runReference(const std::vector<Case>& cases, const std::string& family) {
    std::string base = std::string(X87_WORK_DIR) + "/" + family + "." + std::to_string(getpid());
    std::string in = base + ".cases", out = base + ".results";
    std::vector<ResultRecord> results;
    EXPECT_TRUE(x87diff::writeCases(in, cases));
    std::string command = std::string("\"") + X87_REFERENCE_PATH + "\" < \"" + in + "\" > \"" + out + "\"";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_TRUE(x87diff::readResults(out, cases.size(), results)) << out;
    std::remove(in.c_str());
    std::remove(out.c_str());
    return results;
}

class X87Reference : public ::testing::TestWithParam<Family> {};

TEST_P(X87Reference, InterpreterMatchesTheProcessor) {
    std::vector<Case> cases = GetParam().cases();
    ASSERT_FALSE(cases.empty());
    std::vector<ResultRecord> native = runReference(cases, GetParam().name);
    ASSERT_EQ(native.size(), cases.size());
    std::string error;
    std::vector<ResultRecord> interpreted = x87diff::runInterpreter(cases, error);
    EXPECT_EQ(error, "");
    x87diff::Comparison c = x87diff::compareAll(cases, native, interpreted);
    EXPECT_EQ(c.mismatches, 0u) << "of " << cases.size() << " cases:\n" << c.report;
    RecordProperty("cases", static_cast<int>(cases.size()));
    RecordProperty("toleratedExactUnderflows", static_cast<int>(c.toleratedExactUnderflows));
    if (c.toleratedExactUnderflows != 0) RecordProperty("tolerated", c.toleratedReport);
}

INSTANTIATE_TEST_SUITE_P(Families, X87Reference, ::testing::ValuesIn(x87diff::families()));

}  // namespace
