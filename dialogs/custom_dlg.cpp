#include "dialogs/custom_dlg.h"

#include "core/operation_table.h"
#include "dialogs/number_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <filesystem>
#include <string>

namespace {

const QString kFileFilter = QStringLiteral("Custom Filters (*.OCF)");

QString BoxText(int value)
{
    return value == 0 ? QString() : QString::number(value);
}

std::filesystem::path FilePath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

} // namespace

CCustomDlg::CCustomDlg(QWidget* parent, CStartValues start)
    : CParamDialog(QStringLiteral("Custom"), parent, std::move(start))
{
    BindOperation("CustomFilter");
    // The centre weight alone, over a scale of 1.
    std::vector<double> identity(kWeights + 2, 0.0);
    identity[12] = 1;
    identity[kWeights] = 1;
    SetIdentityValues(std::move(identity));

    for (std::size_t i = 0; i < m_boxes.size(); ++i) {
        auto* box = new QLineEdit(this);
        box->setAlignment(Qt::AlignRight);
        box->setFixedWidth(56);
        m_boxes[i] = box;
        // A zero shows as an empty box, so an empty box is a zero.
        numberBoxes().Add(box, CNumberRule::ForParam(operation()->params[i]).EmptyMeans(0),
                          [this, i](double typed) { OnValueTyped(i, typed); });
    }

    auto* weights = new QGridLayout;
    for (int i = 0; i < kWeights; ++i) weights->addWidget(m_boxes[static_cast<std::size_t>(i)], i / 5, i % 5);
    extraArea()->addLayout(weights);

    auto* numbers = new QHBoxLayout;
    numbers->addWidget(new QLabel(QStringLiteral("Scale:"), this));
    numbers->addWidget(scaleBox());
    numbers->addSpacing(12);
    numbers->addWidget(new QLabel(QStringLiteral("Offset:"), this));
    numbers->addWidget(offsetBox());
    numbers->addStretch();
    extraArea()->addLayout(numbers);

    AddPreviewBox(true);

    m_load = new QPushButton(QStringLiteral("Load..."), this);
    m_save = new QPushButton(QStringLiteral("Save..."), this);
    // Enter in a weight box means OK, not a file dialog.
    m_load->setAutoDefault(false);
    m_save->setAutoDefault(false);
    connect(m_load, &QPushButton::clicked, this, &CCustomDlg::OnLoad);
    connect(m_save, &QPushButton::clicked, this, &CCustomDlg::OnSave);
    auto* files = new QHBoxLayout;
    files->addWidget(m_load);
    files->addWidget(m_save);
    files->addStretch();
    extraArea()->addLayout(files);

    // The row's default filter sharpens; zeros show as empty boxes.
    for (std::size_t i = 0; i < m_boxes.size(); ++i)
        m_boxes[i]->setText(BoxText(static_cast<int>(AddValue(ParamName(i)))));
}

void CCustomDlg::Render(CImageProcessor& engine, const std::vector<double>& values)
{
    RenderByTable("CustomFilter", engine, values);
}

orvex_convolution::CCustomFilterSettings CCustomDlg::settings() const
{
    orvex_convolution::CCustomFilterSettings settings;
    for (std::size_t i = 0; i < settings.kernel.size(); ++i)
        settings.kernel[i] = static_cast<std::int32_t>(value(ParamName(i)));
    settings.scale = static_cast<std::int32_t>(value("scale"));
    settings.offset = static_cast<std::int32_t>(value("offset"));
    return settings;
}

const std::string& CCustomDlg::ParamName(std::size_t box) const
{
    return operation()->params.at(box).name;
}

void CCustomDlg::OnValueTyped(std::size_t box, double typed)
{
    // A divisor of 0 is taken as 1.
    SetValue(ParamName(box), ParamName(box) == "scale" && typed == 0 ? 1 : typed);
}

void CCustomDlg::RefreshPreview()
{
    if (renderer() && previewBox() && previewBox()->isChecked()) renderer()->Request(values());
}

void CCustomDlg::showEvent(QShowEvent* event)
{
    CParamDialog::showEvent(event);
    if (m_opened) return;
    m_opened = true;
    // Let the dialog appear before the first rendering starts.
    QTimer::singleShot(100, this, &CCustomDlg::RefreshPreview);
}

bool CCustomDlg::LoadFrom(const QString& path)
{
    orvex_convolution::CCustomFilterSettings read = settings();
    std::string error;
    if (!orvex_convolution::ReadFilterFile(FilePath(path), read, error)) {
        ShowError(QString::fromStdString(error));
        return false;
    }
    // One rendering for the whole file rather than one per box, some of them half loaded. The
    // base reacts to clicks on the box only, so this does not show the identity meanwhile.
    const bool previewing = previewBox()->isChecked();
    previewBox()->setChecked(false);
    // The boxes are filled in the file's order; a zero shows as an empty box.
    offsetBox()->setText(BoxText(read.offset));
    scaleBox()->setText(BoxText(read.scale));
    for (int i = 0; i < kWeights; ++i) weightBox(i)->setText(BoxText(read.kernel[static_cast<std::size_t>(i)]));
    // A box whose text was already the same reported no change: the values are stored here too.
    for (std::size_t i = 0; i < read.kernel.size(); ++i) SetValue(ParamName(i), read.kernel[i]);
    SetValue("scale", read.scale == 0 ? 1 : read.scale);
    SetValue("offset", read.offset);
    previewBox()->setChecked(previewing);
    RefreshPreview();
    return true;
}

bool CCustomDlg::SaveTo(const QString& path)
{
    std::string error;
    if (!orvex_convolution::WriteFilterFile(FilePath(path), settings(), error)) {
        ShowError(QString::fromStdString(error));
        return false;
    }
    return true;
}

void CCustomDlg::ShowError(const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(), text, QMessageBox::Ok, this);
    box.exec();
}

void CCustomDlg::OnLoad()
{
    QFileDialog dialog(this, QStringLiteral("Open"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(kFileFilter);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    LoadFrom(dialog.selectedFiles().front());
}

void CCustomDlg::OnSave()
{
    QFileDialog dialog(this, QStringLiteral("Save As"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(kFileFilter);
    dialog.setDefaultSuffix(QStringLiteral("ocf"));
    dialog.selectFile(QStringLiteral("Untitled"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    SaveTo(dialog.selectedFiles().front());
}
