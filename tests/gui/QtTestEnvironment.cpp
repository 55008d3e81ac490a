// One application object for every GUI test case of a test binary.

#include "gui/Application.h"

#include <gtest/gtest.h>

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "kestrel-gui-tests";
        static char* argv[] = {name, nullptr};
        app_ = new kestrel::TApplication(argc, argv);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    kestrel::TApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const gQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
