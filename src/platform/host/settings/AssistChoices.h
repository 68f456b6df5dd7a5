#pragma once
// The assists as the person left them (histogram, waveform, zebra and its level,
// peaking), kept among the host's choices and put back by working the panel's buttons.
// Main thread.
class UIView;

namespace host {

class SettingsStore;

void rememberAssists(UIView& root, SettingsStore& store);
void restoreAssists(UIView& root, const SettingsStore& store);

} // namespace host
