// The toolbar's "print": a snapshot of the main window on the printer, as it is on screen
// (Shift held: a preview instead). A cancelled dialog ends it; a failure goes to the log,
// never to the user.
#pragma once

class QWidget;

namespace treelark {

class PrintController {
public:
    explicit PrintController(QWidget* window) : m_window(window) {}

    void clicked();
    void PrintSnapshot();
    void PrintPreview();

private:
    QWidget* m_window;
};

} // namespace treelark
