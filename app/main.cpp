// Start-up of the desktop tool: the main window, then the hidden core form, then the
// message loop until the main window is closed.
#include <cstdio>
#include <exception>
#include <memory>

#include <QApplication>

#include "app/CoreSouece.h"
#include "app/MainForm.h"

namespace {

using orvelle::TMainForm;

int run(QApplication& app)
{
    orvelle::initApplication(app);
    TMainForm mainForm;
    orvelle::TCoreForm coreForm;
    mainForm.setConvert(orvelle::coreFormConverter(coreForm));
    mainForm.show();
    return app.exec();
}

void showStartupError(QApplication* app, const QString& message)
{
    const QString text = orvelle::errorBoxText(message);
    if (app != nullptr)
        orvelle::showErrorBox(nullptr, text);
    else
        std::fprintf(stderr, "%s: %s\n", orvelle::SAppTitle, text.toLocal8Bit().constData());
}

} // namespace

// An exception that escapes start-up is shown in the error box, and the program then
// ends normally with exit code 0.
int main(int argc, char* argv[])
{
    std::unique_ptr<QApplication> app;
    try {
        app = std::make_unique<QApplication>(argc, argv);
        return run(*app);
    } catch (const std::exception& e) {
        showStartupError(app.get(), QString::fromUtf8(e.what()));
    } catch (...) {
        showStartupError(app.get(), QStringLiteral("Unknown error"));
    }
    return 0;
}
