// The x87 differential in the Windows build. The processor's reference runs
// outside Wine, so the run has three steps (ctest orders them as fixtures):
// X87Cases.WriteAll writes each family's cases; the native reference turns
// every <family>.cases into <family>.results; X87Reference.* runs the cases
// through this build's interpreter and compares bit for bit.
#include <gtest/gtest.h>

#include <string>

#include "x87Cases.h"

namespace {

using x87diff::Family;

std::string pathOf(const Family& family, const char* extension) {
    return std::string(X87_WORK_DIR) + "/" + family.name + extension;
}

TEST(X87Cases, WriteAll) {
    for (const Family& family : x87diff::families())
        EXPECT_TRUE(x87diff::writeCases(pathOf(family, ".cases"), family.cases())) << family.name;
}

class X87Reference : public ::testing::TestWithParam<Family> {};

TEST_P(X87Reference, InterpreterMatchesTheProcessor) {
    std::vector<x87diff::Case> cases = GetParam().cases();
    std::vector<x87diff::ResultRecord> native;
    ASSERT_TRUE(x87diff::readResults(pathOf(GetParam(), ".results"), cases.size(), native));
    std::string error;
    std::vector<x87diff::ResultRecord> interpreted = x87diff::runInterpreter(cases, error);
    EXPECT_EQ(error, "");
    x87diff::Comparison c = x87diff::compareAll(cases, native, interpreted);
    EXPECT_EQ(c.mismatches, 0u) << "of " << cases.size() << " cases:\n" << c.report;
}

INSTANTIATE_TEST_SUITE_P(Families, X87Reference, ::testing::ValuesIn(x87diff::families()));

}  // namespace
