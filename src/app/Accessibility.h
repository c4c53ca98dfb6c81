#pragma once

class QWidget;

// Gives every control under root a name a screen reader can speak, unless it
// has one already: its caption (blanks around it and the "&" of a key left
// out), else the text of the label that names it, else the caption of the tab
// page it fills. Tool buttons take the caption of their action.
void AssignAccessibleNames(QWidget* root);
