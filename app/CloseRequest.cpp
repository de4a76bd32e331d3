// The close request: what has to stop before the window closes, in order.
#include "app/MainForm.h"

void TForm1::FormCloseQuery(TControl* Sender, bool& CanClose) {
  // From here on no merge starts and a running one ends at its next look.
  Closing = true;
}
