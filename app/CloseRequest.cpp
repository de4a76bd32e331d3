// The close request: what has to stop before the window closes, in order.
#include "app/MainForm.h"

void TForm1::FormCloseQuery(TControl* Sender, bool& CanClose) {
  // From here on no merge starts and a running one ends at its next look.
  Closing = true;
  KillBinderProcesses();
  // The merge's end handler arrives through the UI events; the segments stay as they are.
  ProcessEventsUntil([this] { return MergeThread == nullptr; });
  // The comment downloads are stopped and both their lists cleared.
  btn3Click(&btn3);
}
