// Window-manager effects the tool windows ask for.
#pragma once

class QWidget;
class QAbstractItemView;

namespace treelark {

class clsWin32API {
public:
    // Keeps `window` above the program's other windows without moving or resizing it.
    // `value` is accepted for the callers' sake; only "topmost" (-1) is ever asked for.
    int SetTopMost(QWidget* window, int value = -1);
    // Grid lines, whole-row selection and one-click activation for a list.
    int SetListViewExtendedAttrib(QAbstractItemView* list, int style = 97);
};

} // namespace treelark
