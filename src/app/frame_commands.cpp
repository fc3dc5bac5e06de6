#include "app/frame_commands.h"

#include "app/prompts.h"
#include "platform/help_window.h"
#include "render/commands.h"

#include <QAction>
#include <QMenu>

namespace frame {

QString CommandText(int id) {
  switch (id) {
  case ID_RESOLUTION:
    return QStringLiteral("Image Resolution and &Dimension...  (Ctrl+D)");
  case ID_FORMAT:
    return QStringLiteral("Image Format and Quality...           (Ctrl+C)");
  case ID_SHARPEN:
    return QStringLiteral("Sharpen");
  case ID_AA_20:
    return QStringLiteral("20&x   (Ctrl+X)");
  case ID_AA_15:
    return QStringLiteral("15x   (Ctrl+Z)");
  case ID_AA_10:
    return QStringLiteral("1&0x   (Ctrl+0)");
  case ID_AA_7:
    return QStringLiteral("&7x     (Ctrl+7)");
  case ID_AA_5:
    return QStringLiteral("&5x     (Ctrl+5)");
  case ID_AA_3:
    return QStringLiteral("&3x     (Ctrl+3)");
  case ID_AA_2:
    return QStringLiteral("&2x     (Ctrl+2)");
  case ID_AA_NONE:
    return QStringLiteral("&None (Ctrl+N)");
  case ID_HATCH:
    return QStringLiteral("Background and Hatch settings       (Ctrl+H)");
  case ID_DATE_STAMP:
    return QStringLiteral("Date and Time stamp");
  case ID_HELP:
    return QStringLiteral("Help             (F1)");
  case ID_ABOUT:
    return QStringLiteral("About");
  case ID_ONLINE:
    return QStringLiteral("Tarvik Online");
  case ID_SUPPORT:
    return QStringLiteral("Tarvik Support");
  case ID_EMERGENCY:
    return QStringLiteral("Emergency report");
  case ID_MONITOR:
    return QStringLiteral("Diagnostic printers for Folvex!");
  case ID_CLEAR_JOBS:
    return QStringLiteral("Clear all printer jobs");
  case ID_DELETE_ALL:
    return QStringLiteral("Delete All");
  case ID_COPY_EMF:
    return QStringLiteral("Copy to Clipboard (EMF)");
  case ID_SAVE_EMF:
    return QStringLiteral("Save as EMF");
  case ID_DELETE_IMAGE:
    return QStringLiteral("Delete Image");
  case ID_ROTATE_LEFT:
    return QStringLiteral("Rotate Left");
  case ID_ROTATE_RIGHT:
    return QStringLiteral("Rotate Right");
  case ID_ROTATE_ALL_LEFT:
    return QStringLiteral("Rotate All Left");
  case ID_ROTATE_ALL_RIGHT:
    return QStringLiteral("Rotate All Right");
  case ID_RESTORE_ALL:
    return QStringLiteral("Restore All");
  case ID_SEND_TO:
    return QStringLiteral("Send to...");
  case ID_SAVE_AS:
    return QStringLiteral("Save as...");
  case ID_WALLPAPER:
    return QStringLiteral("Set to Wallpaper");
  default:
    return QString();
  }
}

namespace {

// A menu text keeps its "&" mnemonic; the key shown after the spaces stays part of the text, as the menus show it.
QAction *AddItem(QMenu &menu, int id) {
  QAction *a = menu.addAction(CommandText(id));
  a->setData(id);
  return a;
}

} // namespace

void BuildPopup(QMenu &menu, Popup which, const MenuState &state) {
  menu.clear();
  switch (which) {
  case Popup::Options: {
    menu.setTitle(QStringLiteral("Options"));
    AddItem(menu, ID_RESOLUTION);
    AddItem(menu, ID_FORMAT);
    menu.addSeparator();
    QAction *sharpen = AddItem(menu, ID_SHARPEN);
    sharpen->setCheckable(true);
    sharpen->setChecked(state.sharpen);
    QMenu *aa = menu.addMenu(QStringLiteral("Antialiasing"));
    for (int id : {ID_AA_20, ID_AA_15, ID_AA_10, ID_AA_7, ID_AA_5, ID_AA_3, ID_AA_2, ID_AA_NONE}) {
      QAction *a = AddItem(*aa, id);
      a->setCheckable(true);
      a->setChecked(render::AntialiasCommandChecked(render::AntialiasFactorForCommand(id), state.antialiasFactor));
    }
    menu.addSeparator();
    AddItem(menu, ID_HATCH);
    QAction *stamp = AddItem(menu, ID_DATE_STAMP);
    stamp->setCheckable(true);
    stamp->setChecked(state.dateStamp);
    break;
  }
  case Popup::Help:
    menu.setTitle(QStringLiteral("Help"));
    AddItem(menu, ID_HELP);
    AddItem(menu, ID_ABOUT);
    menu.addSeparator();
    AddItem(menu, ID_ONLINE);
    AddItem(menu, ID_SUPPORT);
    menu.addSeparator();
    AddItem(menu, ID_EMERGENCY);
    break;
  case Popup::PrnSupprt:
    menu.setTitle(QStringLiteral("PrnSupprt"));
    AddItem(menu, ID_MONITOR);
    menu.addSeparator();
    AddItem(menu, ID_CLEAR_JOBS)->setEnabled(state.pageCount > 0);
    break;
  case Popup::RClick:
    menu.setTitle(QStringLiteral("RClick"));
    AddItem(menu, ID_SEND_TO);
    AddItem(menu, ID_SAVE_AS);
    menu.addSeparator();
    AddItem(menu, ID_WALLPAPER);
    break;
  case Popup::RClick2: {
    menu.setTitle(QStringLiteral("RClick2"));
    const bool onPage = state.pageUnderPoint;
    AddItem(menu, ID_COPY_EMF)->setEnabled(onPage);
    AddItem(menu, ID_SAVE_EMF);
    menu.addSeparator();
    AddItem(menu, ID_DELETE_IMAGE)->setEnabled(onPage);
    AddItem(menu, ID_DELETE_ALL);
    menu.addSeparator();
    AddItem(menu, ID_ROTATE_LEFT)->setEnabled(onPage);
    AddItem(menu, ID_ROTATE_RIGHT)->setEnabled(onPage);
    menu.addSeparator();
    AddItem(menu, ID_ROTATE_ALL_LEFT);
    AddItem(menu, ID_ROTATE_ALL_RIGHT);
    menu.addSeparator();
    AddItem(menu, ID_RESTORE_ALL);
    break;
  }
  }
}

int ActionCommand(const QAction *action) { return view::MenuActionCommand(action); }

void BuildViewPopup(QMenu &menu, view::ViewMenu which, const view::ViewMenuState &state) {
  MenuState s;
  s.pageCount = state.pageCount;
  s.pageUnderPoint = state.pageUnderPoint;
  BuildPopup(menu, which == view::ViewMenu::Strip ? Popup::RClick2 : Popup::RClick, s);
}

bool CommandTable::run(int id) const {
  const auto it = actions_.find(id);
  if (it == actions_.end() || !it->second)
    return false;
  it->second();
  return true;
}

bool OpenHelp(const QString &topic, QWidget *owner) {
  const QString page = platform::helpTopicPath(topic.isEmpty() ? QStringLiteral("index.htm") : topic);
  if (platform::showHelp(page, owner))
    return true;
  ShowMessage({owner, QMessageBox::Warning, QStringLiteral("Tarvik Folvex! Message"),
               QStringLiteral("Cannot open the help page:\n%1").arg(page), QMessageBox::Ok});
  return false;
}

} // namespace frame

namespace frame {
std::atomic<bool> &AbortRequest() {
  static std::atomic<bool> flag{false};
  return flag;
}
} // namespace frame
