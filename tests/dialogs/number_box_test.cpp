// Numbers typed into the dialogs' boxes, key by key, in the C locale and in one whose decimal
// separator is the comma: what is read, that nothing typed disappears, and that OK waits, with the
// reason shown, while a box holds no value.
#include "dialogs/canvas_size_dlg.h"
#include "dialogs/custom_dlg.h"
#include "dialogs/image_size_dlg.h"
#include "dialogs/number_box.h"
#include "dialogs/rotate_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Widgets made while it lives read numbers in `locale`.
class DefaultLocale
{
public:
    explicit DefaultLocale(const QLocale& locale) { QLocale::setDefault(locale); }
    ~DefaultLocale() { QLocale::setDefault(m_saved); }

private:
    QLocale m_saved;
};

const QLocale kLocales[] = {QLocale::c(), QLocale(QLocale::German, QLocale::Germany)};

// Replaces the box's text key by key, as a user does.
void Type(QLineEdit* box, const QString& text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
}

QPushButton* OkOf(QDialog& dialog)
{
    return dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
}

// The reason a box gives for holding no value, when the dialog shows that reason on a line of its
// own; empty otherwise.
QString ShownReason(QDialog& dialog, QLineEdit* box)
{
    if (box->toolTip().isEmpty()) return {};
    for (QLabel* label : dialog.findChildren<QLabel*>())
        if (label->isVisibleTo(&dialog) && label->text() == box->toolTip()) return label->text();
    return {};
}

} // namespace

TEST(NumberBoxes, RotationAnglesReadWithThePointOrTheLocaleSeparatorAndNothingTypedIsDropped)
{
    for (const QLocale& locale : kLocales) {
        DefaultLocale use(locale);
        const std::string where = locale.name().toStdString();
        for (const auto& [typed, angle] : {std::pair{"12.5", 12.5f}, {"12,5", 12.5f}, {"-7.25", -7.25f}, {",5", 0.5f},
                                           {" 30 ", 30.0f}, {"-3600", -3600.0f}}) {
            CRotateDlg dialog;
            Type(dialog.angleBox(), QString::fromUtf8(typed));
            EXPECT_EQ(dialog.angleBox()->text(), QString::fromUtf8(typed)) << where;
            EXPECT_TRUE(OkOf(dialog)->isEnabled()) << where << " " << typed;
            dialog.accept();
            EXPECT_EQ(dialog.result(), QDialog::Accepted) << where << " " << typed;
            EXPECT_FLOAT_EQ(dialog.angle(), angle) << where << " " << typed;
        }
        // Garbage, half a number or an angle beyond the operation's range: kept as typed, framed,
        // the reason on show, and neither OK nor Enter closes the dialog.
        for (const char* typed : {"12a", "1a2,5x", "1,2,3", "1.2,3", "-", "", "12.5°", "4000", "1e3"}) {
            CRotateDlg dialog;
            Type(dialog.angleBox(), QString::fromUtf8(typed));
            EXPECT_EQ(dialog.angleBox()->text(), QString::fromUtf8(typed)) << where;
            EXPECT_FALSE(OkOf(dialog)->isEnabled()) << where << " " << typed;
            EXPECT_FALSE(ShownReason(dialog, dialog.angleBox()).isEmpty()) << where << " " << typed;
            dialog.accept();
            EXPECT_NE(dialog.result(), QDialog::Accepted) << where << " " << typed;
            EXPECT_EQ(dialog.angle(), 0.0f) << "0 until OK";
            // Mending the text brings OK back.
            Type(dialog.angleBox(), QStringLiteral("45"));
            EXPECT_TRUE(OkOf(dialog)->isEnabled()) << where << " " << typed;
            EXPECT_TRUE(ShownReason(dialog, dialog.angleBox()).isEmpty());
        }
    }
}

TEST(NumberBoxes, SizesTakeALeadingMinusTypedFirstAndRefuseWhatIsNoSize)
{
    for (const QLocale& locale : kLocales) {
        DefaultLocale use(locale);
        const std::string where = locale.name().toStdString();
        {
            // A shrink typed key by key stays a shrink: the lone '-' on the way is not a 0.
            CCanvasSizeDlg canvas(4000, 3500);
            canvas.relativeBox()->click();
            Type(canvas.widthBox(), QStringLiteral("-"));
            EXPECT_EQ(canvas.widthBox()->text(), "-") << where;
            EXPECT_FALSE(OkOf(canvas)->isEnabled()) << where;
            QTest::keyClicks(canvas.widthBox(), QStringLiteral("3000"));
            EXPECT_EQ(canvas.widthBox()->text(), "-3000") << where;
            EXPECT_EQ(canvas.editedWidth(), 1000) << where;
            Type(canvas.heightBox(), QStringLiteral("-500"));
            EXPECT_TRUE(OkOf(canvas)->isEnabled()) << where;
            canvas.accept();
            EXPECT_EQ(canvas.resultWidth(), 1000) << where;
            EXPECT_EQ(canvas.resultHeight(), 3000) << where;
        }
        {
            CCanvasSizeDlg canvas(100, 80);
            for (const char* typed : {"12.5", "12,0", "5x", "99999999999999999999"}) {
                Type(canvas.widthBox(), QString::fromUtf8(typed));
                EXPECT_EQ(canvas.widthBox()->text(), QString::fromUtf8(typed)) << where;
                EXPECT_FALSE(OkOf(canvas)->isEnabled()) << where << " " << typed;
                EXPECT_FALSE(ShownReason(canvas, canvas.widthBox()).isEmpty()) << where << " " << typed;
            }
            // Below the smallest canvas: the dialog's own words, before any message box.
            Type(canvas.widthBox(), QStringLiteral("0"));
            EXPECT_EQ(ShownReason(canvas, canvas.widthBox()), "An integer greater than 0 is required.");
            Type(canvas.widthBox(), QStringLiteral("70"));
            EXPECT_TRUE(OkOf(canvas)->isEnabled());
            EXPECT_EQ(canvas.editedWidth(), 70);
        }
        {
            CImageSizeDlg size(640, 480);
            Type(size.widthBox(), QStringLiteral("32a"));
            EXPECT_EQ(size.widthBox()->text(), "32a") << where;
            EXPECT_EQ(size.heightBox()->text(), "24") << "the height follows the last width that could be read";
            EXPECT_FALSE(OkOf(size)->isEnabled()) << where;
            EXPECT_FALSE(ShownReason(size, size.widthBox()).isEmpty()) << where;
            Type(size.widthBox(), QStringLiteral("320"));
            EXPECT_EQ(size.heightBox()->text(), "240") << where;
            EXPECT_TRUE(OkOf(size)->isEnabled()) << where;
            size.accept();
            EXPECT_EQ(size.resultWidth(), 320) << where;
        }
    }
}

TEST(NumberBoxes, CustomFilterWeightsAreKeptAsTypedAndOkWaitsForEveryBox)
{
    for (const QLocale& locale : kLocales) {
        DefaultLocale use(locale);
        const std::string where = locale.name().toStdString();
        CCustomDlg dialog;
        QTest::keyClicks(dialog.weightBox(0), QStringLiteral("1a2"));
        EXPECT_EQ(dialog.weightBox(0)->text(), "1a2") << where;
        EXPECT_FALSE(dialog.okButton()->isEnabled()) << where;
        EXPECT_FALSE(ShownReason(dialog, dialog.weightBox(0)).isEmpty()) << where;
        dialog.weightBox(0)->clear();
        EXPECT_TRUE(dialog.okButton()->isEnabled()) << "an empty weight is a zero";
        Type(dialog.offsetBox(), QStringLiteral("-"));
        EXPECT_FALSE(dialog.okButton()->isEnabled()) << where;
        QTest::keyClicks(dialog.offsetBox(), QStringLiteral("40"));
        EXPECT_EQ(dialog.settings().offset, -40) << where;
        Type(dialog.weightBox(3), QStringLiteral("2.5"));
        EXPECT_FALSE(dialog.okButton()->isEnabled()) << "weights are whole numbers";
        Type(dialog.weightBox(3), QStringLiteral("2"));
        EXPECT_TRUE(dialog.okButton()->isEnabled()) << where;
        EXPECT_EQ(dialog.settings().kernel[3], 2) << where;
    }
}

TEST(ReadNumber, SignsSeparatorsAndLimits)
{
    const QLocale german(QLocale::German, QLocale::Germany);
    const CNumberRule any = CNumberRule::Real(-HUGE_VAL, HUGE_VAL);
    for (const auto& [text, value] : {std::pair{"12.5", 12.5}, {"12,5", 12.5}, {"+3", 3.0}, {"\u22124", -4.0},
                                      {"-0", 0.0}, {"5.", 5.0}, {"\u0663", 3.0}}) {
        const CNumberReading reading = ReadNumber(QString::fromUtf8(text), any, german);
        ASSERT_TRUE(reading.value.has_value()) << text;
        EXPECT_EQ(*reading.value, value) << text;
        EXPECT_EQ(std::signbit(*reading.value), value < 0) << "no negative zero for " << text;
        EXPECT_TRUE(reading.reason.isEmpty());
    }
    // A thousands mark is not skipped: "1.000" in German is a decimal one, never silently 1000.
    EXPECT_EQ(ReadNumber(QStringLiteral("1.000"), any, german).value, 1.0);
    for (const char* text : {"", " ", "-", "--1", "1 000", "1'000", "0x10", "1e3", "inf", "nan", ". "})
        EXPECT_FALSE(ReadNumber(QString::fromUtf8(text), any, german).value.has_value()) << text;

    const CNumberRule side = CNumberRule::Whole(1, 32768);
    EXPECT_EQ(ReadNumber(QStringLiteral("32768"), side).value, 32768.0);
    EXPECT_EQ(ReadNumber(QStringLiteral("32769"), side).reason, "Type a whole number from 1 to 32768.");
    EXPECT_EQ(ReadNumber(QStringLiteral("7.0"), side).reason, "\"7.0\" is not a whole number.");
    EXPECT_EQ(ReadNumber(QStringLiteral("x"), side).reason, "\"x\" is not a number.");
    EXPECT_EQ(ReadNumber(QString(400, QLatin1Char('9')), side).reason, "Type a whole number from 1 to 32768.")
        << "more digits than a double holds are out of range, not zero";
    EXPECT_EQ(ReadNumber(QStringLiteral("0"), side.BelowMinimumSays(QStringLiteral("Too small."))).reason, "Too small.");
    EXPECT_EQ(ReadNumber(QString(), side.EmptyMeans(1)).value, 1.0);
}
