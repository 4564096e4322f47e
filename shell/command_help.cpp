#include "shell/command_help.h"

#include <QHash>

namespace {

QHash<int, const char*> BuildHelp()
{
    return {
        // File
        {57600, "Creates an empty document. Orvex edits existing pictures only, so this command is not available."},
        {57601, "Opens one or more JPEG, BMP, GIF, PNG, TIFF or WebP pictures (.jpg, .jpeg, .jpe, .jfif, .bmp, .dib, "
                ".gif, .png, .tif, .tiff, .webp), each in its own window. The dialog starts in the "
                "folder of the last file opened through it. Pictures can also be dropped on the main window or named "
                "on the command line."},
        {57602, "Closes every window of the active document. With unsaved changes (a <b>*</b> in the caption) it asks "
                "first whether to save them."},
        {57603, "Saves the picture under its own name, in the format of its extension. A file that cannot be written "
                "is saved through Save As instead."},
        {57604, "Saves the picture under a new name; the extension typed (.jpg, .jpeg, .jpe, .jfif, .bmp, .dib, .gif, "
                ".png, .tif, .tiff or .webp) chooses the format."},
        {57607, "Prints the picture. The Picture tab of the dialog's options chooses its size: <b>Fit to page</b> "
                "prints it as large as the paper allows, centred, its shape kept and the page turned to match; "
                "<b>As shown in the window</b> prints it at the window's zoom, where at 100 % one picture pixel is "
                "one printer dot. The choice is remembered. The paper around the picture stays white."},
        {57609, "Shows the printed pages before printing, with the same choice of size on its toolbar. Escape "
                "closes the preview; Page Up and Page Down turn the pages."},
        {57606, "Chooses the printer, the paper and its orientation."},
        {57616, "Opens one of the last seven pictures opened or saved, newest first."},
        {57665, "Ends Orvex, asking first for every document with unsaved changes."},
        // Edit
        {57643, "Goes back one step. Orvex keeps the picture as opened and its 15 newest states. Undo does not "
                "remove the <b>*</b> of unsaved changes."},
        {57644, "Goes forward again to a state that Undo left."},
        {57635, "Not available: Orvex has no selection and no clipboard."},
        {57634, "Not available: Orvex has no selection and no clipboard."},
        {57637, "Not available: Orvex has no selection and no clipboard."},
        // View
        {59392, "Shows or hides the toolbar."},
        {59393, "Shows or hides the status bar, where prompts, progress bars and the lock keys appear."},
        {32772, "Doubles the zoom above 100 % and multiplies it by 1.5 below, up to 1600 %. Ctrl and the mouse "
                "wheel zoom around the pointer."},
        {32773, "Halves the zoom above 100 % and divides it by 1.5 below, down to 5 %."},
        {32774, "Shows the picture at its real size, one picture pixel per screen pixel."},
        // Image > Adjustments
        {32876, "Not available yet: would stretch each channel's darkest and lightest values to black and white."},
        {32875, "Not available yet: would stretch the picture's overall contrast without changing its colours."},
        {32812, "Equalizes each colour channel by its own histogram, which spreads its values evenly over the whole "
                "range and also removes a colour cast."},
        {32836, "Shifts the colours between cyan and red, magenta and green, yellow and blue with three sliders, "
                "with a live preview in the window."},
        {32810, "Changes brightness and contrast with two sliders, with a live preview."},
        {32869, "Turns the picture grey with your own mix of its red, green and blue channels, like a coloured "
                "filter in front of black-and-white film. Presets give common mixes; Preserve Luminosity keeps the "
                "three weights at 100 % together."},
        {32868, "Shifts the hue, scales the saturation and pushes the lightness toward white or black, with a live "
                "preview."},
        {32809, "Removes all colour, leaving the lightness of every pixel as grey."},
        {32793, "Turns the picture into its negative: every channel value v becomes 255 - v."},
        {32811, "Spreads the picture's brightness values evenly over the whole range, using one histogram for all "
                "three channels so that the colours keep their balance."},
        {32855, "Not available yet: would turn every pixel black or white at a chosen level."},
        {32854, "Reduces every channel to a chosen number of levels, giving flat areas of colour, with a live "
                "preview."},
        {32826, "Removes the red glare that a flash leaves in eyes: pixels in strongly red surroundings get the mean "
                "of their green and blue as red. Works on the whole picture."},
        {32853, "Not available yet: would show several variations of the picture to choose from."},
        // Image
        {32850, "Not available yet: would open a copy of the picture in a new document."},
        {32802, "Scales the picture to a new width and height, keeping its proportions if asked, with nearest "
                "neighbour, bilinear or liquid resampling. Liquid resizing removes or repeats the paths of pixels "
                "with least detail, so that edges and textures keep their shape."},
        {32803, "Changes the size of the picture area without scaling the picture. It is placed at one of nine "
                "anchors; added area takes the background colour, area that no longer fits is cut off."},
        {32797, "Turns the picture upside down."},
        {32798, "Turns the picture a quarter turn clockwise."},
        {32799, "Turns the picture a quarter turn counter-clockwise."},
        {32834, "Turns the picture by any angle; the canvas grows to hold the whole picture and its new corners take "
                "the background colour."},
        {32800, "Mirrors the picture left to right."},
        {32801, "Mirrors the picture top to bottom."},
        // Filter
        {32784, "Replaces every pixel by the mean of its 3 x 3 neighbourhood."},
        {32785, "A light Gaussian blur (radius 0.75)."},
        {32786, "A stronger Gaussian blur (radius 1.5)."},
        {32783, "Blurs with a Gaussian bell of the chosen radius. Large radii are computed in the frequency domain "
                "and show progress."},
        {32835, "Blurs with a flat disc of the chosen radius, like an out-of-focus lens: bright points become "
                "discs."},
        {32788, "Smears the picture along a chosen angle, as a moving camera would."},
        {32816, "Edge-preserving smoothing: each pass pulls every pixel toward the means of the 2 x 2 blocks around "
                "it, except where a block's contrast is high. The dialog asks for the number of passes."},
        {32817, "Like Total variation, but keeps strong edges sharper while flattening low-contrast areas."},
        {32790, "Adds uniform or Gaussian noise of a chosen amount, in colour or the same on all channels, with a "
                "live preview."},
        {32860, "Not available yet: would remove small specks while keeping edges."},
        {32791, "Replaces every channel value by the median of the square around it: removes specks and scratches "
                "while keeping edges. Large radii take a while."},
        {32842, "Not available yet: would smooth while keeping edges, weighting neighbours by their likeness."},
        {32862, "Not available yet: would group pixels of similar colour into flat patches."},
        {32863, "Not available yet: would overlay shifted copies of the picture."},
        {32864, "Turns the picture into square cells of one colour each, of a chosen size, with a live preview."},
        {32865, "Not available yet: would render a cloud pattern."},
        {32866, "Not available yet: would blend a cloud pattern into the picture by difference."},
        {32838, "Adds the light artefacts of a camera lens pointed at a bright light: rays, a glow and a chain of "
                "rings. Click the thumbnail to place the light and choose its brightness."},
        {32814, "Makes edges crisper with a small sharpening kernel."},
        {32839, "Sharpens by adding back the difference between the picture and a blurred copy of the chosen "
                "radius, scaled by the amount."},
        {32841, "Draws the edges of the picture as dark lines on white."},
        {32867, "Inverts the channel values of 128 and above, as if the film had been exposed to light while "
                "developing."},
        {32845, "Filters with your own 5 x 5 kernel, scale and offset, with a live preview; settings can be saved "
                "to and loaded from .ocf files."},
        {32846, "Keeps the fine detail and removes the broad shading: the picture minus a blurred copy of the "
                "chosen radius, around mid grey."},
        {32847, "Replaces every channel value by the largest in the square around it: light areas grow."},
        {32848, "Replaces every channel value by the smallest in the square around it: dark areas grow."},
        {32849, "Shifts the picture by whole pixels, filling the uncovered area with the background colour, the "
                "repeated edge, or the part that was shifted out, with a live preview."},
        {32833, "Blackens every second row of the picture for a line-screen look."},
        {32844, "Stamps the signature into the bottom-right corner, darker on a light background and lighter on a "
                "dark one."},
        // Toolbar size presets
        {32821, "Scales the picture to 640 pixels wide (480 if it is not wider than high), keeping its proportions."},
        {32822, "Scales the picture to 1024 pixels wide (768 if it is not wider than high), keeping its "
                "proportions."},
        {32823, "Scales the picture to 1600 pixels wide (1200 if it is not wider than high), keeping its "
                "proportions."},
        // Window
        {57648, "Opens another window on the active document, with its own zoom. The windows of one document are "
                "numbered in their captions: photo.jpg:1, photo.jpg:2."},
        {57650, "Arranges the document windows so that they overlap, each a little below and right of the one "
                "before, keeping their sizes inside the work area."},
        {57651, "Arranges the document windows side by side without overlap."},
        {57649, "Lines up minimized document windows along the bottom of the work area."},
        // Help
        {57667, "Shows this page."},
        {57664, "Shows the version of Orvex and its web address."},
        {57670, "Shows this page."},
        {57669, "Context help: the pointer changes, and the next command clicked or chosen shows its description "
                "here instead of running. Escape leaves context help."},
        {57680, "Not available: document windows have no panes."},
        {57681, "Not available: document windows have no panes."},
    };
}

} // namespace

QString CommandHelp(int id)
{
    static const QHash<int, const char*> help = BuildHelp();
    const char* text = help.value(id, nullptr);
    return text ? QString::fromUtf8(text) : QString();
}
