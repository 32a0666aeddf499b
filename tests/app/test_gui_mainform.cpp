// The main window: its layout, the click handler with its busy cursor and error box,
// and drag and drop, run through the seams for the open dialog and the error box.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <QApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "CrossCancelOracle.h"
#include "TestSupport.h"
#include "app/CoreSouece.h"
#include "app/MainForm.h"
#include "platform/Sysfile.h"
#include "wave/Mmwave.h"

// Readable failure messages for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace orvelle {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using Frames = std::vector<std::pair<int16_t, int16_t>>;

// Halfway values at 30 % and 45 %, clamping at both ends, and a second sample that must
// be computed from the first as read.
const Frames kFrames = {{0, 5}, {0, 15}, {0, 10}, {1000, -1000}, {-32768, 32767}, {32767, 32767}, {-32768, -32768},
    {12345, -321}, {7, -7}, {-3, 10}};

Bytes samples16(const Frames& frames)
{
    Bytes b;
    for (const auto& [a, c] : frames) {
        test::PutLE16(b, static_cast<uint16_t>(a));
        test::PutLE16(b, static_cast<uint16_t>(c));
    }
    return b;
}

Bytes stereo16Wave(const Frames& frames, const Bytes& chunksBefore = {})
{
    Bytes chunks = chunksBefore;
    test::PutChunk(chunks, "fmt ", test::PcmFmtBody(2, 8000, 16));
    test::PutChunk(chunks, "data", samples16(frames));
    return test::RiffWave(chunks);
}

// 8-bit mu-law stereo: a format the conversion leaves alone.
Bytes muLawWave()
{
    Bytes fmt;
    test::PutLE16(fmt, 7);
    test::PutLE16(fmt, 2);
    test::PutLE32(fmt, 8000);
    test::PutLE32(fmt, 16000);
    test::PutLE16(fmt, 2);
    test::PutLE16(fmt, 8);
    Bytes chunks;
    test::PutChunk(chunks, "fmt ", fmt);
    test::PutChunk(chunks, "data", Bytes(64, 0x3f));
    return test::RiffWave(chunks);
}

Bytes expected16(const Frames& frames, int32_t p) { return test::crossCancelData(samples16(frames), 16, false, p); }

// The file was converted at `percent`: same format, cross-cancelled data, the original
// kept under ".org", no temporary file left.
void expectConverted(const fs::path& file, const Bytes& original, int32_t percent)
{
    const Bytes result = test::ReadFileBytes(file);
    // The engine writes the 16-byte PCM record with an empty extra-bytes count after it.
    const Bytes fmt = test::ChunkBody(result, "fmt ").value_or(Bytes());
    ASSERT_GE(fmt.size(), 16u);
    EXPECT_EQ(Bytes(fmt.begin(), fmt.begin() + 16), test::ChunkBody(original, "fmt "));
    EXPECT_EQ(Bytes(fmt.begin() + 16, fmt.end()), Bytes(fmt.size() - 16, 0));
    EXPECT_EQ(test::ChunkBody(result, "data"), expected16(kFrames, percent));
    EXPECT_EQ(test::ReadFileBytes(fs::path(file).replace_extension(".org")), original);
    EXPECT_FALSE(fs::exists(fs::path(file).replace_extension(".tmp")));
}

void expectUntouched(const fs::path& file, const Bytes& original)
{
    EXPECT_EQ(test::ReadFileBytes(file), original);
    EXPECT_FALSE(fs::exists(fs::path(file).replace_extension(".org")));
    EXPECT_FALSE(fs::exists(fs::path(file).replace_extension(".tmp")));
}

std::optional<Qt::CursorShape> currentOverrideCursor()
{
    const QCursor* c = QApplication::overrideCursor();
    return c != nullptr ? std::optional(c->shape()) : std::nullopt;
}

QString qPath(const fs::path& p) { return QString::fromStdString(p.string()); }

class MainFormTest : public ::testing::Test {
protected:
    MainFormTest() : form_(coreFormConverter(core_))
    {
        form_.setPickFile([this](QWidget*) {
            ++picks_;
            return pick_;
        });
        form_.setShowError([this](QWidget*, const QString& text) {
            errors_ << text;
            cursorAtError_ = currentOverrideCursor();
        });
        form_.show();
    }

    // Every path leaves the normal cursor behind.
    void TearDown() override { EXPECT_EQ(currentOverrideCursor(), std::nullopt); }

    void clickWith(std::optional<QString> pick)
    {
        pick_ = std::move(pick);
        QTest::mouseClick(form_.LoadButton, Qt::LeftButton);
    }

    // A converter that only records what it was asked, then does `act`.
    void useFakeConverter(std::function<void()> act = [] {})
    {
        form_.setConvert([this, act](const std::string& name, int32_t percent) {
            calls_.emplace_back(name, percent);
            cursorDuring_ = currentOverrideCursor();
            act();
            return true;
        });
    }

    fs::path writeFile(const std::string& name, const Bytes& bytes)
    {
        const fs::path p = dir_.path() / name;
        test::WriteFileBytes(p, bytes);
        return p;
    }

    test::TempDir dir_;
    TCoreForm core_;
    TMainForm form_;
    std::optional<QString> pick_;
    int picks_ = 0;
    QStringList errors_;
    std::optional<Qt::CursorShape> cursorAtError_;
    std::vector<std::pair<std::string, int32_t>> calls_;
    std::optional<Qt::CursorShape> cursorDuring_;
};

TEST_F(MainFormTest, WindowAndControlsAreLaidOutAsDesigned)
{
    EXPECT_EQ(form_.windowTitle(), QString("Orvelle - QUDLA -"));
    EXPECT_EQ(form_.size(), QSize(332, 65));
    EXPECT_EQ(form_.minimumSize(), QSize(332, 65));
    EXPECT_EQ(form_.maximumSize(), QSize(332, 65));
    EXPECT_FALSE(form_.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    const QRect desktop = form_.screen()->availableGeometry();
    EXPECT_LE((form_.geometry().center() - desktop.center()).manhattanLength(), 2);

    EXPECT_EQ(form_.Min_0->text(), QString("Min_0"));
    EXPECT_EQ(form_.Min_0->pos(), QPoint(0, 40));
    EXPECT_EQ(form_.Label1->text(), QString("Max_100"));
    EXPECT_EQ(form_.Label1->pos(), QPoint(240, 40));

    const QSlider& slider = *form_.MMSlider;
    EXPECT_EQ(slider.orientation(), Qt::Horizontal);
    EXPECT_EQ(std::pair(slider.minimum(), slider.maximum()), std::pair(0, 100));
    EXPECT_EQ(slider.value(), 30);
    EXPECT_EQ(slider.geometry(), QRect(32, 0, 200, 57));
    EXPECT_EQ(slider.tickPosition(), QSlider::TicksBothSides);
    EXPECT_EQ(slider.tickInterval(), 10);
    EXPECT_EQ(slider.cursor().shape(), Qt::PointingHandCursor);

    // "&&" is drawn as a single ampersand, with no shortcut letter.
    EXPECT_EQ(form_.LoadButton->text(), QString("Load && Convert"));
    EXPECT_EQ(form_.LoadButton->geometry(), QRect(240, 8, 89, 25));
}

TEST_F(MainFormTest, TabOrderIsSliderThenButtonAndTheButtonHasTheFocus)
{
    std::vector<QWidget*> chain;
    for (QWidget* w = form_.nextInFocusChain(); w != &form_; w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus)
            chain.push_back(w);
    EXPECT_EQ(chain, (std::vector<QWidget*>{form_.MMSlider, form_.LoadButton}));

    form_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
    EXPECT_EQ(QApplication::focusWidget(), form_.LoadButton);
}

TEST_F(MainFormTest, FontIsTheJapaneseUiFontOrOneWithJapaneseGlyphs)
{
    const QFont font = form_.font();
    EXPECT_EQ(font.families().value(0), QString::fromUtf8("ＭＳ Ｐゴシック"));
    EXPECT_EQ(font.pixelSize(), 12);
    EXPECT_TRUE(QFontMetrics(font).inFontUcs4(0x30B4))
        << "no glyph for ゴ in " << QFontInfo(font).family().toStdString();
    EXPECT_EQ(form_.LoadButton->font().pixelSize(), 12);
}

TEST_F(MainFormTest, CancelChangesNothingNotEvenTheCursor)
{
    useFakeConverter();
    QApplication::setOverrideCursor(Qt::CrossCursor);
    clickWith(std::nullopt);
    EXPECT_EQ(picks_, 1);
    EXPECT_TRUE(calls_.empty());
    EXPECT_TRUE(errors_.empty());
    EXPECT_EQ(currentOverrideCursor(), Qt::CrossCursor);
    QApplication::restoreOverrideCursor();
}

// The busy cursor shows while the conversion runs; the previous cursor is back before
// any error box, whether the conversion returns or raises.
TEST_F(MainFormTest, BusyCursorDuringConversionAndPreviousCursorAfter)
{
    const struct {
        const char* name;
        std::function<void()> act;
        QStringList errors;
    } cases[] = {
        {"returns", [] {}, {}},
        {"raises the wave error", [] { throw EMMWaveError("Unable to open wave file"); },
            {"Unable to open wave file."}},
        {"runs out of memory", [] { throw std::bad_alloc(); }, {"std::bad_alloc."}},
        {"raises something else", [] { throw 42; }, {"Unknown error."}},
    };
    const std::string name = (dir_.path() / "tön.wav").string();
    form_.MMSlider->setValue(73);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        calls_.clear();
        errors_.clear();
        cursorAtError_.reset();
        useFakeConverter(c.act);
        QApplication::setOverrideCursor(Qt::CrossCursor);
        clickWith(QString::fromStdString(name));
        EXPECT_EQ(calls_, (std::vector<std::pair<std::string, int32_t>>{{name, 73}}));
        EXPECT_EQ(cursorDuring_, Qt::WaitCursor);
        EXPECT_EQ(errors_, c.errors);
        if (!c.errors.isEmpty()) {
            EXPECT_EQ(cursorAtError_, Qt::CrossCursor);
        }
        EXPECT_EQ(currentOverrideCursor(), Qt::CrossCursor);
        QApplication::restoreOverrideCursor();
    }
}

TEST_F(MainFormTest, PickedPcmFileIsConvertedAtTheSliderPosition)
{
    for (const int32_t percent : {30, 45, 100}) {
        SCOPED_TRACE(percent);
        const Bytes original = stereo16Wave(kFrames);
        const fs::path file = writeFile("at" + std::to_string(percent) + ".wav", original);
        form_.MMSlider->setValue(percent);
        clickWith(qPath(file));
        EXPECT_TRUE(errors_.empty()) << errors_.join(' ').toStdString();
        expectConverted(file, original, percent);
    }
}

// A folder that cannot be flushed after a completed conversion is no error for the
// desktop tool: the file is converted and no box appears. The first flush of the folder
// (the backup name, before the converted file takes the name) works; the later ones fail.
int gFolderFlushes = 0;
int failFolderFsync(int fd)
{
    struct stat st { };
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && ++gFolderFlushes > 1) {
        errno = EIO;
        return -1;
    }
    return ::fsync(fd);
}

TEST_F(MainFormTest, UnflushedFolderShowsNothing)
{
    const Bytes original = stereo16Wave(kFrames);
    const fs::path file = writeFile("sync.wav", original);
    gFolderFlushes = 0;
    SysFileOps().fsync = failFolderFsync;
    clickWith(qPath(file));
    resetFileOps();
    EXPECT_TRUE(errors_.empty()) << errors_.join(' ').toStdString();
    EXPECT_FALSE(core_.lastWarning().empty());
    expectConverted(file, original, 30);
}

TEST_F(MainFormTest, SliderAtZeroStillRewritesTheFileAndMakesTheBackup)
{
    Bytes junk;
    test::PutChunk(junk, "JUNK", Bytes(6, 0));
    const Bytes original = stereo16Wave(kFrames, junk);
    const fs::path file = writeFile("zero.wav", original);
    form_.MMSlider->setValue(0);
    clickWith(qPath(file));
    EXPECT_TRUE(errors_.empty());
    expectConverted(file, original, 0);
    EXPECT_EQ(test::ChunkBody(test::ReadFileBytes(file), "data"), samples16(kFrames));
    EXPECT_NE(test::ReadFileBytes(file), original) << "the file was not rewritten";
}

TEST_F(MainFormTest, NonPcmFileGivesNoMessageAndNoChange)
{
    std::vector<std::pair<std::string, Bytes>> files = {{"mulaw.wav", muLawWave()}};
    if (!test::SamplesDir().empty())
        for (const char* name : {"sox-ulaw-s.wav", "sox-imaadpcm-s.wav", "sox-alaw-s.wav"})
            files.emplace_back(name, test::ReadFileBytes(test::SamplesDir() / name));
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        ASSERT_FALSE(bytes.empty());
        const fs::path file = writeFile(name, bytes);
        clickWith(qPath(file));
        EXPECT_TRUE(errors_.empty()) << errors_.join(' ').toStdString();
        expectUntouched(file, bytes);
        EXPECT_EQ(currentOverrideCursor(), std::nullopt);
    }
}

TEST_F(MainFormTest, UnreadableFileShowsTheErrorAndTheWindowStillWorks)
{
    const struct {
        const char* name;
        std::optional<Bytes> bytes;
        QString error;
    } cases[] = {
        {"missing.wav", std::nullopt, "Error reading wave file."},
        {"text.wav", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e', '\n'}, "Invalid wave file..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        errors_.clear();
        const fs::path file = dir_.path() / c.name;
        if (c.bytes)
            test::WriteFileBytes(file, *c.bytes);
        clickWith(qPath(file));
        EXPECT_EQ(errors_, QStringList{c.error});
        EXPECT_EQ(cursorAtError_, std::nullopt);
        EXPECT_EQ(currentOverrideCursor(), std::nullopt);
        if (c.bytes)
            expectUntouched(file, *c.bytes);
        else
            EXPECT_FALSE(fs::exists(file));

        errors_.clear();
        const Bytes original = stereo16Wave(kFrames);
        const fs::path good = writeFile(std::string("after-") + c.name, original);
        clickWith(qPath(good));
        EXPECT_TRUE(errors_.empty());
        expectConverted(good, original, 30);
    }
}

void sendDrop(QWidget& target, const QList<QUrl>& urls, bool* enterAccepted, bool* dropAccepted)
{
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    *enterAccepted = enter.isAccepted();
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &drop);
    *dropAccepted = drop.isAccepted();
    QCoreApplication::processEvents();
}

TEST_F(MainFormTest, DroppedWaveFileIsConvertedLikeAPickedOne)
{
    const Bytes original = stereo16Wave(kFrames);
    const fs::path file = writeFile("dropped.WAV", original);
    form_.MMSlider->setValue(45);
    bool enter = false;
    bool drop = false;
    sendDrop(form_, {QUrl::fromLocalFile(qPath(file))}, &enter, &drop);
    EXPECT_TRUE(enter);
    EXPECT_TRUE(drop);
    EXPECT_EQ(picks_, 0);
    EXPECT_TRUE(errors_.empty());
    expectConverted(file, original, 45);
}

TEST_F(MainFormTest, DropOfAnythingButOneLocalWaveFileIsRefused)
{
    useFakeConverter();
    const fs::path a = writeFile("a.wav", stereo16Wave(kFrames));
    const fs::path b = writeFile("b.wav", stereo16Wave(kFrames));
    const fs::path text = writeFile("notes.txt", Bytes{'x'});
    const struct {
        const char* name;
        QList<QUrl> urls;
    } cases[] = {
        {"a text file", {QUrl::fromLocalFile(qPath(text))}},
        {"two wave files", {QUrl::fromLocalFile(qPath(a)), QUrl::fromLocalFile(qPath(b))}},
        {"a remote wave file", {QUrl("http://example.org/a.wav")}},
        {"no file", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bool enter = true;
        bool drop = true;
        sendDrop(form_, c.urls, &enter, &drop);
        EXPECT_FALSE(enter);
        EXPECT_FALSE(drop);
    }
    EXPECT_TRUE(calls_.empty());
}

// Answers each modal window that shows while it lives; so a box that a test does not
// expect fails the test instead of waiting for a click forever.
class ModalAnswerer {
public:
    explicit ModalAnswerer(std::function<void(QWidget*)> answer) : answer_(std::move(answer))
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget())
                answer_(modal);
        });
        timer_.start(10);
    }

private:
    std::function<void(QWidget*)> answer_;
    QTimer timer_;
};

// The window as the program builds it: the real open dialog and the real error box.
TEST(MainFormDefaults, OpenDialogShowsOnlyWaveFilesAndErrorBoxIsTheStandardOne)
{
    test::TempDir dir;
    const Bytes original = stereo16Wave(kFrames);
    const fs::path file = dir.path() / "picked.wav";
    test::WriteFileBytes(file, original);
    TCoreForm core;
    TMainForm form(coreFormConverter(core));
    form.show();

    QString title;
    QStringList filters;
    QStringList boxes;
    std::optional<QMessageBox::Icon> icon;
    std::optional<QMessageBox::StandardButtons> buttons;
    bool typed = false;
    const ModalAnswerer answerer([&](QWidget* modal) {
        if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            // Typed into the name field and confirmed, as a user would, once it has the focus.
            QWidget* field = QApplication::focusWidget();
            if (field == nullptr || field->window() != dialog)
                return;
            if (typed) {
                ADD_FAILURE() << "the dialog did not take the typed name";
                dialog->reject();
                return;
            }
            typed = true;
            title = dialog->windowTitle();
            filters = dialog->nameFilters();
            QTest::keyClicks(field, qPath(file));
            QTest::keyClick(field, Qt::Key_Return);
        } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            boxes << box->windowTitle() + ": " + box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            box->accept();
        } else {
            ADD_FAILURE() << "unexpected window " << modal->metaObject()->className();
            modal->close();
        }
    });

    QTest::mouseClick(form.LoadButton, Qt::LeftButton);
    EXPECT_EQ(title, QString("Open Wave File"));
    EXPECT_EQ(filters, QStringList{"Wave-Files(*.wav)"});
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join(' ').toStdString();
    expectConverted(file, original, 30);

    boxes.clear();
    form.setPickFile([](QWidget*) { return QString("/nonexistent/missing.wav"); });
    QTest::mouseClick(form.LoadButton, Qt::LeftButton);
    EXPECT_EQ(QApplication::applicationName(), QString("Orvelle"));
    EXPECT_EQ(boxes, QStringList{"Orvelle: Error reading wave file."});
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(currentOverrideCursor(), std::nullopt);
}

TEST(errorBoxText, AppendsAFullStopOnlyWhenTheMessageLacksOne)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Error reading wave file", "Error reading wave file."},
        {"Invalid wave file...", "Invalid wave file..."},
        {"Unable to create wave file.", "Unable to create wave file."},
        {"Bad name a.b", "Bad name a.b."},
        {"", ""},
    };
    for (const auto& [message, shown] : cases)
        EXPECT_EQ(errorBoxText(QString(message)), QString(shown)) << message;
}

} // namespace
} // namespace orvelle
