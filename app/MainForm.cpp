#include "app/MainForm.h"

#include <exception>

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QUrl>

#include "app/CoreSouece.h"

namespace orvelle {

namespace {

constexpr QSize kClientSize(332, 65);

// The Japanese UI font at 12 pixels; where it is not installed, an installed font with
// Japanese glyphs (proportional gothic first) stands in, so the captions keep their look.
QFont mainFormFont()
{
    const QString requested = QStringLiteral("ＭＳ Ｐゴシック");
    QStringList families{requested};
    const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
    if (japanese.contains(QStringLiteral("IPAPGothic")))
        families << QStringLiteral("IPAPGothic");
    families << japanese;
    QFont font(requested);
    font.setFamilies(families);
    font.setPixelSize(12);
    return font;
}

// The busy cursor for the lifetime of the guard; the previous cursor comes back
// however the scope is left.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// The one local ".wav" file of a drop; a drop of several files or of anything else is
// refused, as the open dialog also picks exactly one file.
std::optional<QString> droppedWaveFile(const QMimeData* mime)
{
    if (mime == nullptr || !mime->hasUrls())
        return std::nullopt;
    const QList<QUrl> urls = mime->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile())
        return std::nullopt;
    const QString name = urls.front().toLocalFile();
    if (!name.endsWith(QStringLiteral(".wav"), Qt::CaseInsensitive))
        return std::nullopt;
    return name;
}

} // namespace

std::unique_ptr<QFileDialog> makeWaveOpenDialog(QWidget* parent)
{
    auto dialog = std::make_unique<QFileDialog>(parent, QStringLiteral("Open Wave File"));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(QStringLiteral("Wave-Files(*.wav)"));
    return dialog;
}

std::optional<QString> pickWaveFile(QWidget* parent)
{
    const auto dialog = makeWaveOpenDialog(parent);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return std::nullopt;
    return dialog->selectedFiles().front();
}

std::unique_ptr<QMessageBox> makeErrorBox(QWidget* parent, const QString& text)
{
    return std::make_unique<QMessageBox>(
        QMessageBox::Critical, QCoreApplication::applicationName(), text, QMessageBox::Ok, parent);
}

void showErrorBox(QWidget* parent, const QString& text) { makeErrorBox(parent, text)->exec(); }

// An empty message stays empty rather than becoming a lone full stop.
QString errorBoxText(const QString& message)
{
    if (message.isEmpty() || message.endsWith(QLatin1Char('.')))
        return message;
    return message + QLatin1Char('.');
}

void initApplication(QApplication& app) { app.setApplicationName(QString::fromLatin1(SAppTitle)); }

ConvertFunc coreFormConverter(TCoreForm& core)
{
    return [&core](const std::string& fileName, int32_t percent) { return core.ConvertFile(fileName, percent); };
}

TTickSlider::TTickSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) { }

void TTickSlider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    // The style lays the groove out for ticks on both sides; the ticks themselves are
    // drawn here, because the style cannot make some of them longer.
    opt.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    drawScale(painter, handle);
    style()->drawComplexControl(QStyle::CC_Slider, &opt, &painter, this);
}

void TTickSlider::drawScale(QPainter& painter, const QRect& handle)
{
    const int interval = tickInterval() > 0 ? tickInterval() : pageStep();
    if (interval <= 0 || maximum() <= minimum())
        return;
    painter.setPen(palette().color(QPalette::WindowText));
    const int span = width() - handle.width();
    int index = 0;
    for (int64_t v = minimum(); v <= maximum(); v += interval, ++index) {
        const int value = static_cast<int>(v);
        const int x = QStyle::sliderPositionFromValue(minimum(), maximum(), value, span, invertedAppearance()) +
            handle.width() / 2;
        const int length = index % 5 == 0 ? 7 : 4;
        painter.drawLine(x, handle.top() - 2, x, handle.top() - 1 - length);
        painter.drawLine(x, handle.bottom() + 2, x, handle.bottom() + 1 + length);
    }
}

TMainForm::TMainForm(ConvertFunc convert, QWidget* parent)
    : QWidget(parent,
          Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
              Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      convert_(std::move(convert)), pickFile_(pickWaveFile), showError_(showErrorBox)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QString::fromUtf8(SMainCaption));
    setFont(mainFormFont());
    setFixedSize(kClientSize);
    createControls();
    setAcceptDrops(true);
    placeAtDesktopCentre();
}

void TMainForm::createControls()
{
    Min_0 = new QLabel(QStringLiteral("Min_0"), this);
    Min_0->setObjectName(QStringLiteral("Min_0"));
    Min_0->setTextFormat(Qt::PlainText);
    Min_0->move(0, 40);
    Min_0->adjustSize();

    Label1 = new QLabel(QStringLiteral("Max_100"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->move(240, 40);
    Label1->adjustSize();

    MMSlider = new TTickSlider(this);
    MMSlider->setObjectName(QStringLiteral("MMSlider"));
    MMSlider->setRange(0, 100);
    MMSlider->setValue(30);
    MMSlider->setGeometry(32, 0, 200, 57);
    MMSlider->setTickPosition(QSlider::TicksBothSides);
    MMSlider->setTickInterval(10);
    MMSlider->setCursor(Qt::PointingHandCursor);

    // "&&" shows one ampersand; a single one would mark a shortcut letter.
    LoadButton = new QPushButton(QStringLiteral("Load && Convert"), this);
    LoadButton->setObjectName(QStringLiteral("LoadButton"));
    LoadButton->setGeometry(240, 8, 89, 25);
    connect(LoadButton, &QPushButton::clicked, this, &TMainForm::LoadButtonClick);

    QWidget::setTabOrder(MMSlider, LoadButton);
    LoadButton->setFocus();
}

void TMainForm::placeAtDesktopCentre()
{
    const QScreen* desktop = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (desktop != nullptr)
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), desktop->availableGeometry()));
}

void TMainForm::LoadButtonClick()
{
    const std::optional<QString> fileName = pickFile_(this);
    if (fileName && !fileName->isEmpty())
        convertWithBusyCursor(*fileName);
}

// Exceptions must not cross Qt's event loop: they are shown here as the error box.
void TMainForm::convertWithBusyCursor(const QString& fileName)
{
    QString message;
    try {
        BusyCursor busy;
        // A file that is not PCM is left alone without a message, so the result is not used.
        if (convert_)
            convert_(QFile::encodeName(fileName).toStdString(), MMSlider->value());
        return;
    } catch (const std::exception& e) {
        message = QString::fromUtf8(e.what());
    } catch (...) {
        message = QStringLiteral("Unknown error");
    }
    showError_(this, errorBoxText(message));
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event)
{
    if (droppedWaveFile(event->mimeData()))
        event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event)
{
    const std::optional<QString> fileName = droppedWaveFile(event->mimeData());
    if (!fileName) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // Converted once the drop is over, so that an error box does not hold up the source.
    QTimer::singleShot(0, this, [this, name = *fileName] { convertWithBusyCursor(name); });
}

} // namespace orvelle
