#include "dialogs/param_dialog_list.h"

#include "dialogs/bc_dlg.h"
#include "dialogs/blur_dialog.h"
#include "dialogs/bw_dlg.h"
#include "dialogs/cbalance_dlg.h"
#include "dialogs/custom_dlg.h"
#include "dialogs/hue_dlg.h"
#include "dialogs/mosaic_dlg.h"
#include "dialogs/motion_blur_dlg.h"
#include "dialogs/posterize_dlg.h"
#include "dialogs/unsharp_mask_dlg.h"

namespace {

template <class T>
CParamDialogEntry Entry(const char* name)
{
    return {name, [] { return std::unique_ptr<CParamDialog>(std::make_unique<T>()); }};
}

} // namespace

const std::vector<CParamDialogEntry>& ParamDialogList()
{
    static const std::vector<CParamDialogEntry> list = {
        Entry<CBCDlg>("CBCDlg"),
        Entry<CPosterizeDlg>("CPosterizeDlg"),
        Entry<CCBalanceDlg>("CCBalanceDlg"),
        Entry<CHueDlg>("CHueDlg"),
        Entry<CBWDlg>("CBWDlg"),
        Entry<CCustomDlg>("CCustomDlg"),
        Entry<CBlurDialog>("CBlurDialog"),
        Entry<CMotionBlurDlg>("CMotionBlurDlg"),
        Entry<CUnsharpMaskDlg>("CUnsharpMaskDlg"),
        Entry<CMosaicDlg>("CMosaicDlg"),
    };
    return list;
}
