#pragma once

#include "Platform/ui/View.h"

namespace scrivlet {

class PanelViewModel;

// What the annotation panel shows: the selected file's annotation, every part of it
// editable in place. Edits go straight to the view model and are saved after a pause.
// Draws nothing while there is no annotation.
struct PanelContentView {
    // How the tags show: as one line of text, or each with a remove control above a field
    // that adds what is typed into it (the user default `editableTags`).
    enum class TagRow { readOnly, editable };

    // Observed: the panel's hosting view rebuilds the body whenever it announces a change.
    PanelViewModel& viewModel;
    TagRow tagRow = TagRow::editable;

    ui::View body() const;
};

} // namespace scrivlet
