// The context menus of the page strip and the preview. Their items are commands of the window that holds the
// views, so that window supplies the builder; the views only say which menu and where, and report the command id
// that the chosen item carries as its data.
#pragma once

#include <functional>

class QAction;
class QMenu;

namespace view {

enum class ViewMenu { Preview, Strip };

struct ViewMenuState {
  int pageCount = 0;
  bool pageUnderPoint = false; // the strip menu: a page lies under the right-click point
};

// Fills menu with the items of the given view menu; each action carries its command id as data.
using MenuBuilder = std::function<void(QMenu &menu, ViewMenu which, const ViewMenuState &state)>;

// The command id an action carries (0 for none, e.g. a separator).
inline int MenuActionCommand(const QAction *action);

} // namespace view

#include <QAction>

inline int view::MenuActionCommand(const QAction *action) {
  return action && action->data().isValid() ? action->data().toInt() : 0;
}
