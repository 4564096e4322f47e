#pragma once

#include "dialogs/param_dialog.h"

#include <functional>
#include <memory>
#include <vector>

// Every parameter dialog, so that the tests hold each one to the shared contract: controls declared
// by the operation table's parameter names, values within the row's ranges, the identity, the
// keyboard. A new dialog joins with one entry; it must name its operation (BindOperation) and
// declare its controls by that row's parameter names.
struct CParamDialogEntry
{
    const char* name; // for test messages
    std::function<std::unique_ptr<CParamDialog>()> make;
};

const std::vector<CParamDialogEntry>& ParamDialogList();
