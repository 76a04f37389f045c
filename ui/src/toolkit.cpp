#include "zk/ui/toolkit.hpp"

namespace zk::ui {

const char* controlName(Control control) {
    switch (control) {
        case Control::cmdLoad:
            return "cmdLoad";
        case Control::lblSource:
            return "lblSource";
        case Control::Frame1:
            return "Frame1";
        case Control::Option1:
            return "Option1";
        case Control::Option2:
            return "Option2";
        case Control::Option3:
            return "Option3";
        case Control::Option4:
            return "Option4";
        case Control::Frame2:
            return "Frame2";
        case Control::chkData:
            return "chkData";
        case Control::chkTime:
            return "chkTime";
        case Control::chkBase:
            return "chkBase";
        case Control::chkTags:
            return "chkTags";
        case Control::chkRes:
            return "chkRes";
        case Control::chkHeader:
            return "chkHeader";
        case Control::lblColumns:
            return "lblColumns";
        case Control::txtHeading:
            return "txtHeading";
        case Control::lblHeading:
            return "lblHeading";
        case Control::cmdExport:
            return "cmdExport";
    }
    return "";
}

const char* menuItemName(MenuItem item) {
    switch (item) {
        case MenuItem::mnuOptionsSeconds:
            return "mnuOptionsSeconds";
        case MenuItem::mnuOptionsConductance:
            return "mnuOptionsConductance";
    }
    return "";
}

}  // namespace zk::ui
