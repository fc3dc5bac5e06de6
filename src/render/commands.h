// Effects of the rendering commands of the Options menu, as plain functions the main window wires to its
// menu and keys. rerender re-renders the current page (the caller's pattern: wait cursor, view state,
// invalidate); it may be empty.
#pragma once

#include <functional>

namespace render {

// Command ids of the factor commands and their factors; -1 for an id that is not a factor command.
int AntialiasFactorForCommand(int commandId);
// Whether the Options menu shows a check mark at the factor command with the given factor.
bool AntialiasCommandChecked(int commandFactor, int currentFactor);

// Sets the factor in memory, re-renders, then stores "KodAntialias". Returns whether the store succeeded.
bool CommandAntialias(int factor, const std::function<void()> &rerender);
// Toggle, store ("lvSharpen" / "lvIncludeDateTime"), then re-render. Return the new state.
bool CommandToggleSharpen(const std::function<void()> &rerender);
bool CommandToggleDateTimeStamp(const std::function<void()> &rerender);

} // namespace render
