// "About": the about box lives in a module of its own beside the programs; it is loaded, called and let go again.
#pragma once

#include <QString>

class QWidget;

namespace app {

// The module's path: the installation folder ("InstallPath") + "/fxAbout.so"; empty when that value is missing.
QString aboutModulePath();
// Loads the module, calls its export "AboutTarvikSystem" (which shows the box over owner and returns when it is
// closed) and unloads it. A missing module or export does nothing; returns whether the box was shown.
bool showAbout(QWidget *owner);

} // namespace app
