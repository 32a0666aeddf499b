#pragma once
// The main window: a strength slider and a "Load & Convert" button that converts the
// picked (or dropped) wave file in place.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <QSlider>
#include <QString>
#include <QWidget>

class QApplication;
class QFileDialog;
class QLabel;
class QMessageBox;
class QPushButton;

namespace orvelle {

class TCoreForm;

inline constexpr const char* SAppTitle = "Orvelle";
inline constexpr const char* SMainCaption = "Orvelle - QUDLA -";

// Shows the open dialog; the picked file's full name, or nothing when cancelled.
using PickFileFunc = std::function<std::optional<QString>(QWidget* parent)>;
// Shows an error box with the text as given.
using ShowErrorFunc = std::function<void(QWidget* parent, const QString& text)>;
// Converts one file at the given strength; may raise.
using ConvertFunc = std::function<bool(const std::string& fileName, int32_t percent)>;

// The open dialog: "Open Wave File", only wave files, one existing file.
std::unique_ptr<QFileDialog> makeWaveOpenDialog(QWidget* parent);
std::optional<QString> pickWaveFile(QWidget* parent);

// The error box: titled with the application title, error icon, OK button.
std::unique_ptr<QMessageBox> makeErrorBox(QWidget* parent, const QString& text);
void showErrorBox(QWidget* parent, const QString& text);

// An exception message as the error box shows it: with a full stop at the end.
QString errorBoxText(const QString& message);

// Sets the application title ("Orvelle"), which error boxes show as their title.
void initApplication(QApplication& app);

// Calls the core form's conversion.
ConvertFunc coreFormConverter(TCoreForm& core);

// A horizontal slider that draws its own scale on both sides: a tick at every
// tickInterval, every fifth one longer.
class TTickSlider : public QSlider {
    Q_OBJECT
public:
    explicit TTickSlider(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void drawScale(QPainter& painter, const QRect& handle);
};

class TMainForm : public QWidget {
    Q_OBJECT
public:
    explicit TMainForm(ConvertFunc convert = {}, QWidget* parent = nullptr);

    void setConvert(ConvertFunc convert) { convert_ = std::move(convert); }
    void setPickFile(PickFileFunc pick) { pickFile_ = std::move(pick); }
    void setShowError(ShowErrorFunc show) { showError_ = std::move(show); }

    // The button's click handler: pick a file, convert it at the slider's position.
    void LoadButtonClick();

    QLabel* Min_0;
    QLabel* Label1;
    TTickSlider* MMSlider;
    QPushButton* LoadButton;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void createControls();
    void placeAtDesktopCentre();
    void convertWithBusyCursor(const QString& fileName);

    ConvertFunc convert_;
    PickFileFunc pickFile_;
    ShowErrorFunc showError_;
};

} // namespace orvelle
