#pragma once

class QSettings;

// Where dialogs remember their choices from one run to the next: the application's settings, set
// when the application starts. Null (the default, as in tests that do not set it): nothing is
// remembered and every dialog opens on its own defaults.
QSettings* DialogSettings();
void SetDialogSettings(QSettings* settings);
