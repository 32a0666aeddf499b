// Start-up of the desktop tool: the main window, then the hidden core form, then the
// message loop until the main window is closed.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include <QApplication>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTextStream>
#include <QTimer>
#include <QWindow>

#include "app/CoreSouece.h"
#include "app/MainForm.h"

namespace {

using orvelle::TMainForm;

void PrintGeometry(QTextStream& out, const char* name, const QWidget* w)
{
    const QRect r = w->geometry();
    out << name << ' ' << r.x() << ' ' << r.y() << ' ' << r.width() << ' ' << r.height() << '\n';
}

// For scripts/screenshot: once the window is on the screen, writes its picture to `path`
// and prints the window's and the controls' geometry, then a line "ready".
void GrabWhenShown(TMainForm& form, const QString& path)
{
    auto* poll = new QTimer(&form);
    QObject::connect(poll, &QTimer::timeout, &form, [&form, poll, path] {
        if (form.windowHandle() == nullptr || !form.windowHandle()->isExposed())
            return;
        poll->stop();
        form.repaint();
        QPixmap shot = form.screen()->grabWindow(form.winId());
        if (shot.isNull())
            shot = form.grab();
        QTextStream out(stdout);
        if (!shot.save(path, "PNG"))
            out << "error cannot write " << path << '\n';
        out << "title " << form.windowTitle() << '\n';
        PrintGeometry(out, "window", &form);
        PrintGeometry(out, "Min_0", form.Min_0);
        PrintGeometry(out, "Label1", form.Label1);
        PrintGeometry(out, "MMSlider", form.MMSlider);
        PrintGeometry(out, "LoadButton", form.LoadButton);
        const QWidget* focus = form.focusWidget();
        out << "focus " << (focus != nullptr ? focus->objectName() : QStringLiteral("none")) << '\n';
        out << "ready" << Qt::endl;
    });
    poll->start(50);
}

int Run(QApplication& app)
{
    orvelle::InitApplication(app);
    TMainForm mainForm;
    orvelle::TCoreForm coreForm;
    mainForm.setConvert(orvelle::CoreFormConverter(coreForm));
    mainForm.show();
    if (const char* shot = std::getenv("ORVELLE_SCREENSHOT"); shot != nullptr && *shot != '\0')
        GrabWhenShown(mainForm, QString::fromLocal8Bit(shot));
    return app.exec();
}

void ShowStartupError(QApplication* app, const QString& message)
{
    const QString text = orvelle::ErrorBoxText(message);
    if (app != nullptr)
        orvelle::ShowErrorBox(nullptr, text);
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
        return Run(*app);
    } catch (const std::exception& e) {
        ShowStartupError(app.get(), QString::fromUtf8(e.what()));
    } catch (...) {
        ShowStartupError(app.get(), QStringLiteral("Unknown error"));
    }
    return 0;
}
