#pragma once

// The main window as designed, in twips (1/1440 inch; 15 twips to the pixel at 96 dots per
// inch): its client area and every control's container, caption, place and size. Each
// toolkit's adapter builds the window from this one table.

#include <algorithm>
#include <iterator>

#include "zk/ui/toolkit.hpp"

namespace zk::ui {

/// The client area above the status line.
inline constexpr int kClientWidthTwips = 8130;
inline constexpr int kClientHeightTwips = 4530;

struct ControlDesign {
    Control control;
    Control container;             ///< Control::cmdLoad stands for the window itself
    const char* caption;           ///< nullptr: the rate option's caption (kRateOptions)
    int left, top, width, height;  ///< in twips, from the container's top left corner
};

/// Every control as designed, in tab order. Frame2 is 3780 twips high, not 3495, to hold
/// lblColumns below the check boxes.
inline constexpr ControlDesign kWindowDesign[] = {
    {Control::cmdLoad, Control::cmdLoad, "Load File", 240, 720, 1815, 615},
    {Control::lblSource, Control::cmdLoad, "", 360, 120, 6735, 375},
    {Control::Frame1, Control::cmdLoad, "Update Rate", 3600, 660, 1815, 2595},
    {Control::Option1, Control::Frame1, nullptr, 360, 240, 1215, 495},
    {Control::Option2, Control::Frame1, nullptr, 360, 720, 1215, 495},
    {Control::Option3, Control::Frame1, nullptr, 360, 1200, 1215, 495},
    {Control::Option4, Control::Frame1, nullptr, 360, 1680, 1215, 495},
    {Control::Frame2, Control::cmdLoad, "Include", 5760, 660, 1935, 3780},
    {Control::chkData, Control::Frame2, "Data", 480, 1320, 1215, 255},
    {Control::chkTime, Control::Frame2, "Time", 480, 780, 975, 375},
    {Control::chkBase, Control::Frame2, "Baseline", 480, 1740, 975, 375},
    {Control::chkTags, Control::Frame2, "Tags", 480, 2700, 975, 375},
    {Control::chkRes, Control::Frame2, "Resistance", 480, 2220, 1335, 375},
    {Control::chkHeader, Control::Frame2, "Headers", 480, 300, 975, 375},
    {Control::lblColumns, Control::Frame2, "", 180, 3075, 1680, 660},
    {Control::txtHeading, Control::cmdLoad, "", 360, 3480, 5175, 855},
    {Control::lblHeading, Control::cmdLoad, "Main Heading", 480, 3240, 1455, 195},
    {Control::cmdExport, Control::cmdLoad, "Export", 240, 1440, 1815, 615},
};

/// The design of `control`.
constexpr const ControlDesign& designOf(Control control) {
    return *std::find_if(std::begin(kWindowDesign), std::end(kWindowDesign),
                         [control](const ControlDesign& d) { return d.control == control; });
}

}  // namespace zk::ui
