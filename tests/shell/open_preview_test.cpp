// The Open dialog's preview: what it says about pictures, broken files and folders, made off the
// interface thread, newer selections superseding older ones; the thumbnail's arithmetic; the
// dialog's layout.
#include "shell/open_dialog.h"
#include "tests/shell/shell_test_support.h"

#include <QFile>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSplitter>
#include <QTreeView>

using namespace shell_test;
using test_pictures::Pattern;

namespace {

QString Corpus(const char* relative)
{
    return QString::fromStdString(test_pictures::TestDataDir()) + "/" + relative;
}

// Shows `path` and waits for its preview to be complete.
bool Show(CPicturePreview& pane, const QString& path)
{
    pane.ShowFile(path);
    return WaitFor([&] { return !pane.pending(); }, 20000);
}

class OpenPreviewTest : public ShellTest
{
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        if (test_pictures::TestDataDir().empty()) GTEST_SKIP() << "ORVEX_TESTDATA_DIR is not set";
    }
    CPicturePreview pane;
};

} // namespace

TEST_F(OpenPreviewTest, ShowsFormatSizeAndAThumbnailOfAPicture)
{
    ASSERT_TRUE(Show(pane, Corpus("jpeg/libjpeg-turbo/testorig.jpg")));
    EXPECT_EQ(pane.text(), "JPEG, 227 x 149, 5.6 kB");
    // Fitted into 200 x 200 with its shape kept.
    EXPECT_EQ(pane.thumbnail().size(), QSize(200, 131));

    const QString tall = WritePicture("tall.png", 30, 450);
    ASSERT_TRUE(Show(pane, tall));
    EXPECT_TRUE(pane.text().startsWith("PNG, 30 x 450, ")) << pane.text().toStdString();
    EXPECT_EQ(pane.thumbnail().size(), QSize(13, 200));

    const QString small = WritePicture("small.bmp", 3, 2);
    ASSERT_TRUE(Show(pane, small));
    EXPECT_TRUE(pane.text().startsWith("BMP, 3 x 2, ")) << pane.text().toStdString();
    EXPECT_EQ(pane.thumbnail().size(), QSize(3, 2)) << "never enlarged";
}

// A broken picture shows the reason opening it would give; anything else is "Not a picture".
TEST_F(OpenPreviewTest, BrokenFilesShowTheLoadersReason)
{
    const QString cut = Path("cut.jpg");
    {
        QFile whole(Corpus("jpeg/libjpeg-turbo/testorig.jpg"));
        ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
        QFile part(cut);
        ASSERT_TRUE(part.open(QIODevice::WriteOnly));
        part.write(whole.read(whole.size() / 2));
    }
    for (const QString& path :
         {Corpus("png/go-image/invalid-crc32.png"), Corpus("png/go-image/invalid-trunc.png"), cut}) {
        const std::string relative = path.toStdString();
        CImage picture;
        QString reason;
        ASSERT_FALSE(LoadPicture(path, picture, &reason)) << relative;
        ASSERT_TRUE(Show(pane, path));
        EXPECT_TRUE(pane.text().endsWith("\n" + reason)) << pane.text().toStdString();
        EXPECT_TRUE(pane.thumbnail().isNull());
    }

    const QString text = Path("notes.jpg");
    QFile file(text);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a picture, whatever its name says");
    file.close();
    ASSERT_TRUE(Show(pane, text));
    EXPECT_EQ(pane.text(), CPicturePreview::kNotAPicture);
    EXPECT_TRUE(pane.thumbnail().isNull());
}

TEST_F(OpenPreviewTest, FoldersAndVanishedFilesShowNothingAndBreakNothing)
{
    ASSERT_TRUE(Show(pane, Corpus("jpeg/libjpeg-turbo/testorig.jpg")));
    ASSERT_TRUE(Show(pane, m_dir.path()));
    EXPECT_TRUE(pane.text().isEmpty());
    EXPECT_TRUE(pane.thumbnail().isNull());

    const QString gone = WritePicture("gone.png", 8, 8);
    ASSERT_TRUE(QFile::remove(gone));
    ASSERT_TRUE(Show(pane, gone));
    EXPECT_FALSE(pane.text().isEmpty());
    EXPECT_TRUE(pane.thumbnail().isNull());

    ASSERT_TRUE(Show(pane, QString()));
    EXPECT_TRUE(pane.text().isEmpty());
}

// Selections made while a large picture decodes: only the newest is shown, and the interface
// is never held up by the decoding.
TEST_F(OpenPreviewTest, ANewerSelectionSupersedesARunningDecode)
{
    const QString large = WritePicture("large.png", 3000, 2000);
    const QString small = WritePicture("small.png", 40, 20, 3);
    QSignalSpy finished(&pane, &CPicturePreview::finished);
    QElapsedTimer clock;
    clock.start();
    pane.ShowFile(large);
    pane.ShowFile(small);
    pane.ShowFile(large);
    pane.ShowFile(small);
    EXPECT_LT(clock.elapsed(), 200) << "asking never waits for a decode";
    ASSERT_TRUE(WaitFor([&] { return !pane.pending(); }, 20000));
    QTest::qWait(50);
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(pane.path(), small);
    EXPECT_TRUE(pane.text().startsWith("PNG, 40 x 20, ")) << pane.text().toStdString();
    EXPECT_EQ(pane.thumbnail().size(), QSize(40, 20));

    // A pane closed while its decode runs takes nothing with it.
    auto* gone = new CPicturePreview;
    gone->ShowFile(large);
    delete gone;
    ASSERT_TRUE(Show(pane, large));
    EXPECT_EQ(pane.thumbnail().size(), QSize(200, 133));
}

// Each thumbnail pixel is the rounded mean of the block it stands for.
TEST(PreviewThumbnail, MeansOfTheBlocksItStandsFor)
{
    auto reference = [](const CImage& picture, int tw, int th) {
        QImage out(tw, th, QImage::Format_RGB888);
        const int w = picture.width(), h = picture.height();
        for (int ty = 0; ty < th; ++ty)
            for (int tx = 0; tx < tw; ++tx) {
                const int x0 = tx * w / tw, x1 = (tx + 1) * w / tw, y0 = ty * h / th, y1 = (ty + 1) * h / th;
                double sum[3] = {0, 0, 0};
                for (int y = y0; y < y1; ++y)
                    for (int x = x0; x < x1; ++x) {
                        const std::uint8_t* p = picture.bits() + std::ptrdiff_t(y) * picture.pitch() + 3 * x;
                        sum[0] += p[2], sum[1] += p[1], sum[2] += p[0];
                    }
                const double n = double(x1 - x0) * (y1 - y0);
                uchar* q = out.scanLine(ty) + 3 * tx;
                for (int c = 0; c < 3; ++c) q[c] = static_cast<uchar>(std::floor(sum[c] / n + 0.5));
            }
        return out;
    };
    const struct
    {
        int w, h, side, tw, th;
    } cases[] = {{1, 1, 200, 1, 1},      {7, 5, 200, 7, 5},      {400, 200, 200, 200, 100}, {401, 203, 200, 200, 101},
                 {1000, 3, 200, 200, 1}, {3, 1000, 200, 1, 200}, {250, 250, 200, 200, 200}, {9, 4, 2, 2, 1}};
    for (const auto& c : cases) {
        const CImage picture = Pattern(c.w, c.h, c.w + c.h);
        const QImage thumbnail = PreviewThumbnail(picture, c.side);
        ASSERT_EQ(thumbnail.size(), QSize(c.tw, c.th)) << c.w << "x" << c.h;
        EXPECT_EQ(thumbnail, reference(picture, c.tw, c.th)) << c.w << "x" << c.h;
    }
    EXPECT_TRUE(PreviewThumbnail(CImage(), 200).isNull());
}

// Detail view with every column readable, the preview beside the list, the list unsquashed, and
// the preview following the file chosen in the list.
TEST_F(OpenPreviewTest, TheDialogShowsItsColumnsAndPreviewsTheChosenFile)
{
    const QString photo = Path("photo.jpg");
    ASSERT_TRUE(QFile::copy(Corpus("jpeg/libjpeg-turbo/testorig.jpg"), photo));
    COpenDialog dialog(nullptr, m_dir.path());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_GE(dialog.width(), 1000);
    auto* tree = dialog.findChild<QTreeView*>("treeView");
    ASSERT_TRUE(tree && tree->isVisible());
    QHeaderView* header = tree->header();
    ASSERT_GE(header->count(), 4);
    for (int i = 0; i < 4; ++i) {
        const QString title = header->model()->headerData(i, Qt::Horizontal).toString();
        EXPECT_GE(header->sectionSize(i), tree->fontMetrics().horizontalAdvance(title) + 16) << title.toStdString();
    }
    EXPECT_LE(header->sectionPosition(3) + header->sectionSize(3), tree->viewport()->width())
        << "every column fits beside the preview";
    CPicturePreview* preview = dialog.preview();
    ASSERT_TRUE(preview->isVisible());
    EXPECT_GE(preview->width(), CPicturePreview::kThumbnailSide);
    EXPECT_GE(preview->mapTo(&dialog, QPoint()).x(), tree->mapTo(&dialog, QPoint(tree->width(), 0)).x());

    auto* model = dialog.findChild<QFileSystemModel*>();
    ASSERT_TRUE(model);
    ASSERT_TRUE(WaitFor([&] { return model->index(photo).isValid(); }));
    tree->setCurrentIndex(model->index(photo));
    ASSERT_TRUE(WaitFor([&] { return preview->path() == photo && !preview->pending(); }, 20000));
    EXPECT_EQ(preview->text(), "JPEG, 227 x 149, 5.6 kB");
}

// A name typed in full previews its file as a click on it would.
TEST_F(OpenPreviewTest, ATypedNamePreviewsItsFile)
{
    const QString photo = Path("typed.jpg");
    ASSERT_TRUE(QFile::copy(Corpus("jpeg/libjpeg-turbo/testorig.jpg"), photo));
    COpenDialog dialog(nullptr, m_dir.path());
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
    ASSERT_TRUE(name);
    name->setFocus();
    QTest::keyClicks(name, "typ");
    EXPECT_TRUE(dialog.preview()->path().isEmpty()) << "a part of a name previews nothing";
    QTest::keyClicks(name, "ed.jpg");
    ASSERT_TRUE(WaitFor([&] { return dialog.preview()->path() == photo && !dialog.preview()->pending(); }, 20000));
    EXPECT_EQ(dialog.preview()->text(), "JPEG, 227 x 149, 5.6 kB");
}
