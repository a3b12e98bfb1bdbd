// What the editor sends for each panel's callbacks: the one place where edits become messages.
#include "VeskSamplerEditor.h"

#include "plugin/Messages.h"

void VeskSamplerEditor::setupTopBarCallbacks()
{
    topBar_.onRandom = [this] { triggerRandom(); };
    topBar_.onReplay = [this] { triggerReplay(); };
    topBar_.onStop = [this] { stop(); };
}

void VeskSamplerEditor::setupPoolNavCallbacks() {}

void VeskSamplerEditor::setupPoolRowCallbacks(VeskSamplerPoolRow&) {}

void VeskSamplerEditor::setupLanePanelCallbacks(VeskSamplerFXLanePanel&) {}

void VeskSamplerEditor::setupMasterFXCallbacks() {}
