#include "dialogs/dialog_settings.h"

namespace {
QSettings* g_settings = nullptr;
} // namespace

QSettings* DialogSettings()
{
    return g_settings;
}

void SetDialogSettings(QSettings* settings)
{
    g_settings = settings;
}
