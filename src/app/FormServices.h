#pragma once

class QTabWidget;
class QWidget;

// Hides the tab buttons of every page; the pages stay usable and code switches
// between them. The control's own visibility is kept.
void HidePageTabs(QTabWidget* control);
