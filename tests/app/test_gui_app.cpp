// The one QApplication that every GUI test runs in; headless unless told otherwise.
#include <memory>

#include <QApplication>
#include <QByteArray>
#include <gtest/gtest.h>

#include "app/MainForm.h"

namespace {

class QtApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
        app_ = std::make_unique<QApplication>(argc_, argv_);
        orvelle::initApplication(*app_);
    }
    void TearDown() override { app_.reset(); }

private:
    char name_[10] = "gui_tests";
    int argc_ = 1;
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

} // namespace
