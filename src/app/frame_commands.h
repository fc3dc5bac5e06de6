// Command identifiers of the main window, the popup menus of the buttons and the page view, and the table that
// connects a command to its action. A command without an action does nothing when chosen.
#pragma once

#include "view/view_menus.h"

#include <QString>
#include <atomic>
#include <functional>
#include <map>

class QAction;
class QMenu;
class QWidget;

namespace frame {

enum Command : int {
  ID_SAVE_HTML = 110,
  ID_AA_NONE = 32801,
  ID_AA_5 = 32813,
  ID_AA_7 = 32815,
  ID_AA_10 = 32818,
  ID_AA_20 = 32819,
  ID_RESOLUTION = 32820,
  ID_FORMAT = 32821,
  ID_AA_2 = 32823,
  ID_AA_3 = 32824,
  ID_AA_15 = 32825,
  ID_ABORT = 32826,
  ID_SEND_TO = 32828,
  ID_SAVE_AS = 32829,
  ID_WALLPAPER = 32830,
  ID_HELP = 32831,
  ID_ABOUT = 32832,
  ID_ONLINE = 32833,
  ID_SUPPORT = 32834,
  ID_COPY_EMF = 32836,
  ID_DELETE_IMAGE = 32837,
  ID_ROTATE_LEFT = 32838,
  ID_ROTATE_RIGHT = 32839,
  ID_ROTATE_ALL_LEFT = 32840,
  ID_ROTATE_ALL_RIGHT = 32841,
  ID_MONITOR = 32844,
  ID_CLEAR_JOBS = 32845,
  ID_SHARPEN = 32863,
  ID_DATE_STAMP = 32868,
  ID_RESTORE_ALL = 32879,
  ID_DELETE_ALL = 32880,
  ID_EMERGENCY = 32881,
  ID_SAVE_EMF = 32882,
  ID_HATCH = 32883,
  ID_SAVE_DISK = 32891,
  ID_MAIL = 32892,
  ID_SAVE_PDF = 32893,
};

// The menu text of a command ("" for commands that only have a key).
QString CommandText(int id);

// Popup menus by their position in the menu resource.
enum class Popup { Options = 0, RClick = 1, Help = 2, RClick2 = 3, PrnSupprt = 4 };

// What the menus need to know when they open.
struct MenuState {
  int antialiasFactor = 3;
  bool sharpen = false;
  bool dateStamp = false;
  int pageCount = 0;
  bool pageUnderPoint = false; // the strip menu: a page lies under the right-click point
};

// Fills menu with the popup's items in order; each action carries its command id as data (separators have none).
// Check marks and greying follow state.
void BuildPopup(QMenu &menu, Popup which, const MenuState &state);
// The command id of a menu action (0 for none).
int ActionCommand(const QAction *action);
// The builder the page strip and the preview use for their menus ("RClick2" and "RClick").
void BuildViewPopup(QMenu &menu, view::ViewMenu which, const view::ViewMenuState &state);

// The command table: actions registered by the parts of the program that implement them.
class CommandTable {
public:
  void set(int id, std::function<void()> action) { actions_[id] = std::move(action); }
  bool has(int id) const { return actions_.count(id) != 0; }
  // Runs the command's action; false (and nothing happens) when none is registered.
  bool run(int id) const;

private:
  std::map<int, std::function<void()>> actions_;
};

// Opens a help page of the installation folder's help pages in the help window (topic empty: the start page,
// "index.htm"). With an owner the help window belongs to it, so a modal dialog does not block it. A missing page
// is told in a message box; returns whether the page is shown.
bool OpenHelp(const QString &topic, QWidget *owner = nullptr);

// The maker's web site and the support mailbox, as "Tarvik Online" and "Tarvik Support" hand them to the desktop.
inline constexpr const char *kWebSiteUrl = "https://www.tarvik.example/";
inline constexpr const char *kSupportMailUrl = "mailto:support@tarvik.example";

} // namespace frame

namespace frame {
// The process-wide abort request: Esc sets it, every export clears it before it starts and tests it between pages.
std::atomic<bool> &AbortRequest();
} // namespace frame
