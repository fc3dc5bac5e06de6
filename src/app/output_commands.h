// The output commands of the main frame: save to disk, the HTML gallery, the PDF, mail, "Send to...", "Save as...",
// the wallpaper, the emergency report and the image format sheet, with the frame's side of an export (progress on
// the status line, the preview showing the pages written, closing only once a running export has stopped).
#pragma once

class lvFrameWin;

namespace frame {
class CommandTable;
}

namespace app {

void RegisterOutputCommands(lvFrameWin &frame, frame::CommandTable &commands);

} // namespace app
