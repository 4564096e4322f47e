// File > New and Image > Dublicate through the real windows: what the new documents hold, what they
// are called, and what closing and saving them asks.
#include "core/image_processor.h"
#include "shell/command_table.h"
#include "shell/new_picture_dlg.h"
#include "tests/shell/shell_test_support.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>

using namespace shell_test;
using test_pictures::Pixel;

namespace {

using NewDocumentTest = ShellTest;

bool EveryByteIs(const CImage& picture, std::uint8_t level)
{
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            for (int c = 0; c < 3; ++c)
                if (Pixel(picture, x, y)[c] != level) return false;
    return true;
}

TEST_F(NewDocumentTest, NewOpensABlankUnchangedPictureAndOffersTheLastChoiceAgain)
{
    Start();
    ASSERT_TRUE(frame().action(CommandId::FileNew)->isEnabled());
    WhenModal<CNewPictureDlg>([](CNewPictureDlg* dialog) {
        dialog->SetPictureSize(7, 5);
        dialog->SetFill(CNewPictureDlg::Fill::Background);
        dialog->accept();
    });
    Run(CommandId::FileNew);
    ASSERT_EQ(windowCount(), 1);
    COrvexDoc& doc = view()->document();
    EXPECT_EQ(doc.title(), "Untitled-1");
    EXPECT_FALSE(doc.modified());
    EXPECT_FALSE(caption().contains('*'));
    ASSERT_EQ(doc.picture().width(), 7);
    ASSERT_EQ(doc.picture().height(), 5);
    EXPECT_TRUE(EveryByteIs(doc.picture(), CImageProcessor::kBackgroundRed));

    // The dialog starts from the last choice; an untouched blank picture closes without a prompt
    // (the watchdog fails the test on any modal window left open).
    int offeredWidth = 0;
    CNewPictureDlg::Fill offeredFill = CNewPictureDlg::Fill::White;
    WhenModal<CNewPictureDlg>([&](CNewPictureDlg* dialog) {
        offeredWidth = dialog->pictureWidth();
        offeredFill = dialog->fill();
        dialog->SetFill(CNewPictureDlg::Fill::White);
        dialog->accept();
    });
    Run(CommandId::FileNew);
    EXPECT_EQ(offeredWidth, 7);
    EXPECT_EQ(offeredFill, CNewPictureDlg::Fill::Background);
    ASSERT_EQ(windowCount(), 2);
    EXPECT_EQ(view()->document().title(), "Untitled-2");
    EXPECT_TRUE(EveryByteIs(view()->document().picture(), 255));
    Run(CommandId::FileClose);
    EXPECT_EQ(windowCount(), 1);
}

TEST_F(NewDocumentTest, ASizeBeyondThePixelCapCannotBeConfirmed)
{
    CNewPictureDlg dialog(nullptr);
    QPushButton* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    dialog.SetPictureSize(32768, 16384);
    EXPECT_TRUE(ok->isEnabled());
    dialog.SetPictureSize(32768, 16385);
    EXPECT_FALSE(ok->isEnabled());
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(NewDocumentTest, DublicateOpensTheCurrentPictureAsAnUnsavedCopy)
{
    Start({WritePicture("photo.png", 9, 6, 4)});
    COrvexDoc& original = view()->document();
    Run(CommandId::Invert);
    const CImage changed = test_pictures::Copy(original.picture());

    Run(CommandId::Duplicate);
    ASSERT_EQ(windowCount(), 2);
    COrvexDoc& copy = view()->document();
    ASSERT_NE(&copy, &original);
    EXPECT_EQ(copy.title(), "photo copy");
    EXPECT_TRUE(copy.modified());
    EXPECT_TRUE(test_pictures::SamePixels(copy.picture(), changed));
    EXPECT_FALSE(frame().action(CommandId::EditUndo)->isEnabled());
    EXPECT_EQ(copy.history().currentIndex(), 0);

    // The copy is a picture of its own: changing it leaves the original as it was.
    Run(CommandId::Invert);
    EXPECT_TRUE(test_pictures::SamePixels(original.picture(), changed));

    QString proposed;
    WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        proposed = dialog->selectedFiles().value(0);
        dialog->reject();
    });
    Run(CommandId::FileSave);
    EXPECT_EQ(proposed, Path("photo copy.png"));

    // A copy of a document without a file is named after its title.
    Run(CommandId::Duplicate);
    EXPECT_EQ(view()->document().title(), "photo copy copy");
}

} // namespace
