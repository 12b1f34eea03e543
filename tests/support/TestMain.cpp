// The main of every test program. Each test runs with TMPDIR pointing at a
// private folder made for it and removed after it, so tests that run at the
// same time (ctest -j) never see each other's temporary files.
#include <gtest/gtest.h>

#include <memory>

#include "support/TestSupport.h"

namespace {

class PrivateTmpPerTest : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo&) override { tmp_ = std::make_unique<cz::test::PrivateTmpDir>(); }
    void OnTestEnd(const ::testing::TestInfo&) override { tmp_.reset(); }

private:
    std::unique_ptr<cz::test::PrivateTmpDir> tmp_;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new PrivateTmpPerTest);
    return RUN_ALL_TESTS();
}
