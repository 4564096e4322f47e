#pragma once

#include <QDialog>

#include <cstdint>

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QSettings;
class QSpinBox;

// File > New: the size of a blank picture and what it is filled with. The last choice is kept in
// the settings store and offered again.
class CNewPictureDlg : public QDialog
{
    Q_OBJECT
public:
    // The fills offered, in the order of the list.
    enum class Fill { White, Black, Background };

    CNewPictureDlg(QSettings* settings, QWidget* parent = nullptr);

    int pictureWidth() const;
    int pictureHeight() const;
    Fill fill() const;
    // The channel value every pixel gets: 255, 0, or the grey of the canvas fill.
    std::uint8_t fillLevel() const;

    void SetPictureSize(int width, int height);
    void SetFill(Fill fill);

    void accept() override;

private:
    void UpdateSummary();

    QSettings* m_settings;
    QSpinBox* m_width;
    QSpinBox* m_height;
    QComboBox* m_fill;
    QLabel* m_summary;
    QDialogButtonBox* m_buttons;
};
