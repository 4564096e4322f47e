// Copy, Cut and Paste through the real windows and the process's clipboard: what goes on it, what
// Cut leaves and Undo brings back, and what Paste opens.
#include "core/image_processor.h"
#include "shell/command_table.h"
#include "tests/shell/shell_test_support.h"

#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QMimeData>
#include <QUrl>

using namespace shell_test;
using test_pictures::Pixel;

namespace {

constexpr CommandId kCopy = CommandId::EditCopy, kCut = CommandId::EditCut, kPaste = CommandId::EditPaste;
constexpr CommandId kNewFromClipboard = CommandId::FileNewFromClipboard;

class ClipboardTest : public ShellTest
{
protected:
    static QClipboard& Clipboard() { return *QGuiApplication::clipboard(); }

    void SetClipboard(QMimeData* data)
    {
        Clipboard().setMimeData(data);
        QCoreApplication::processEvents();
    }
};

// The clipboard's picture holds exactly the bytes of `region` of `picture`, top row first.
void ExpectSameBytes(const QImage& clip, const CImage& picture, CRegion region)
{
    ASSERT_EQ(clip.width(), region.width);
    ASSERT_EQ(clip.height(), region.height);
    const QImage bgr = clip.convertToFormat(QImage::Format_BGR888);
    for (int y = 0; y < region.height; ++y)
        ASSERT_EQ(
            std::memcmp(bgr.constScanLine(y), Pixel(picture, region.x, region.y + y), std::size_t(region.width) * 3), 0)
            << "row " << y;
}

TEST_F(ClipboardTest, CopyPutsTheSelectionOrTheWholePictureOnTheClipboard)
{
    // An odd width, so that the picture's rows are padded and bottom-up rows would show.
    Start({WritePicture("photo.png", 37, 23, 3)});
    const CImage& picture = view()->document().picture();
    Clipboard().clear();
    Run(kCopy);
    ExpectSameBytes(Clipboard().image(), picture, {0, 0, 37, 23});

    view()->document().SetSelection(CRegion{5, 3, 10, 7});
    Run(kCopy);
    ExpectSameBytes(Clipboard().image(), picture, {5, 3, 10, 7});
    EXPECT_FALSE(view()->document().modified());
}

TEST_F(ClipboardTest, CutFillsTheSelectionWithTheBackgroundAndUndoBringsItBack)
{
    Start({WritePicture("photo.png", 21, 13, 5)});
    COrvexDoc& doc = view()->document();
    const CImage original = test_pictures::Copy(doc.picture());
    EXPECT_FALSE(frame().action(kCut)->isEnabled());

    const CRegion region{4, 2, 9, 6};
    doc.SetSelection(region);
    frame().UpdateCommandStates();
    ASSERT_TRUE(frame().action(kCut)->isEnabled());
    Run(kCut);
    ExpectSameBytes(Clipboard().image(), original, region);
    for (int y = 0; y < 13; ++y)
        for (int x = 0; x < 21; ++x) {
            const bool inside = x >= 4 && x < 13 && y >= 2 && y < 8;
            const std::uint8_t* p = Pixel(doc.picture(), x, y);
            const std::uint8_t* was = Pixel(original, x, y);
            const std::uint8_t expected[3] = {inside ? CImageProcessor::kBackgroundBlue : was[0],
                                              inside ? CImageProcessor::kBackgroundGreen : was[1],
                                              inside ? CImageProcessor::kBackgroundRed : was[2]};
            ASSERT_EQ(std::memcmp(p, expected, 3), 0) << x << ", " << y;
        }
    EXPECT_TRUE(doc.modified());
    EXPECT_EQ(doc.history().currentIndex(), 1);

    Run(CommandId::EditUndo);
    EXPECT_TRUE(test_pictures::SamePixels(doc.picture(), original));
}

TEST_F(ClipboardTest, PastedPicturesOpenAsUntitledDocumentsThatAskBeforeClosing)
{
    Start();
    Clipboard().clear();
    QCoreApplication::processEvents();
    EXPECT_FALSE(frame().action(kPaste)->isEnabled());
    EXPECT_FALSE(frame().action(kNewFromClipboard)->isEnabled());

    const CImage source = test_pictures::Pattern(9, 5, 7);
    Clipboard().setImage(PictureToQImage(source));
    QCoreApplication::processEvents();
    ASSERT_TRUE(frame().action(kPaste)->isEnabled());
    Run(kPaste);
    ASSERT_EQ(windowCount(), 1);
    EXPECT_EQ(view()->document().title(), "Untitled-1");
    EXPECT_TRUE(caption().startsWith("Untitled-1*"));
    EXPECT_TRUE(view()->document().modified());
    EXPECT_TRUE(test_pictures::SamePixels(view()->document().picture(), source));

    Run(kNewFromClipboard);
    ASSERT_EQ(windowCount(), 2);
    EXPECT_EQ(view()->document().title(), "Untitled-2");

    // Save has no file to write to and asks for one.
    bool askedForPath = false;
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        askedForPath = true;
        dialog->reject();
    });
    Run(CommandId::FileSave);
    EXPECT_TRUE(askedForPath);

    QString prompt;
    AnswerMessage(QMessageBox::Cancel, &prompt);
    Run(CommandId::FileClose);
    EXPECT_EQ(prompt, "Save changes to the Orvex document\n Untitled-2 before closening?");
    EXPECT_EQ(windowCount(), 2);
}

TEST_F(ClipboardTest, APastedPictureWithAlphaLandsOnWhite)
{
    Start();
    QImage image(3, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(255, 0, 0, 0));
    image.setPixel(1, 0, qRgba(0, 0, 255, 128));
    image.setPixel(2, 0, qRgba(10, 20, 30, 255));
    Clipboard().setImage(image);
    QCoreApplication::processEvents();
    Run(kPaste);
    ASSERT_EQ(windowCount(), 1);
    const CImage& picture = view()->document().picture();
    const auto over = [](int c, int a) { return (c * a + 255 * (255 - a) + 127) / 255; };
    const int expected[3][3] = {{255, 255, 255}, {over(255, 128), over(0, 128), over(0, 128)}, {30, 20, 10}};
    for (int x = 0; x < 3; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(Pixel(picture, x, 0)[c], expected[x][c]) << x << ", " << c;
}

TEST_F(ClipboardTest, PastedFileNamesOpenAsFileOpenWouldAndOtherTextDisablesPaste)
{
    const QString good = WritePicture("good.png", 8, 6);
    const QString broken = Path("broken.png");
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();
    Start();

    // A file manager's copied files: the broken one says what File > Open says, the good one opens.
    auto* files = new QMimeData;
    files->setUrls({QUrl::fromLocalFile(broken), QUrl::fromLocalFile(good)});
    SetClipboard(files);
    ASSERT_TRUE(frame().action(kPaste)->isEnabled());
    QString message;
    AnswerMessage(QMessageBox::Ok, &message);
    Run(kPaste);
    QString reason;
    CImage unused;
    EXPECT_FALSE(LoadPicture(broken, unused, &reason));
    EXPECT_EQ(message, "Load failed\n" + reason);
    ASSERT_EQ(windowCount(), 1);
    EXPECT_EQ(view()->document().pathName(), QFileInfo(good).absoluteFilePath());
    EXPECT_FALSE(view()->document().modified());

    // File names as plain text, one a line, the second as a file URL.
    const QString other = WritePicture("other.png", 4, 4);
    auto* text = new QMimeData;
    text->setText(other + "\n" + QUrl::fromLocalFile(good).toString() + "\n");
    SetClipboard(text);
    ASSERT_TRUE(frame().action(kPaste)->isEnabled());
    Run(kPaste);
    EXPECT_EQ(windowCount(), 2);

    // Text that is not only file names opens nothing.
    for (const QString& words : {QString("hello world"), good + "\nand more", Path("missing.png")}) {
        auto* plain = new QMimeData;
        plain->setText(words);
        SetClipboard(plain);
        EXPECT_FALSE(frame().action(kPaste)->isEnabled()) << words.toStdString();
        EXPECT_FALSE(frame().action(kNewFromClipboard)->isEnabled()) << words.toStdString();
    }
}

} // namespace
