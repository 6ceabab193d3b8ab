// Serves the text on its standard input as the clipboard of a GNOME Wayland
// session until another program copies; started by Tovrin's copy commands.

#include "platform/linux/wayland/gnome/mutter_clipboard.h"

int main() {
  return tovrin::ClipboardKeeper::run();
}
