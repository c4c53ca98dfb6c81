#pragma once

class QTabWidget;
class QWidget;

// Hides the tab buttons of every page; the pages stay usable and code switches
// between them. The control's own visibility is kept.
void HidePageTabs(QTabWidget* control);
// Sets the control's width to its parent's width less its left position and the margin.
void FitWidth(QWidget* control, int margin);
