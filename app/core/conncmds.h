#ifndef KIVREL_CORE_CONNCMDS_H
#define KIVREL_CORE_CONNCMDS_H

// The rules of the browse window's connection and view commands that need
// no window: which worker a command names and whether it may run, what a
// custom command sends, which list style and transfer mode an item stands
// for. User-interface thread (the worker table belongs to it).

#include "foundation/kv_string.h"
#include "requests/kv_tavoinfo.h"

#include <cstdint>

// The list style an item of the "&List view" popup sets: 59409 large icons
// (0), 59411 details (1), 59408 small icons (2), 59410 list (3); -1 for any
// other id.
int ListStyleOfCommand(uint32_t id);

// The transfer mode a mode item sets: 32846 automatic (1), 32845 ASCII (2),
// 32847 binary (3); 0 for any other id.
uint32_t TransferModeOfCommand(uint32_t id);

// A pane toggle may run when its view is hidden (it shows it), or when it
// is shown and the window shows at least one other view: the window never
// loses its last view.
bool ViewToggleEnabled(bool shown, int views_shown_in_window);

// The text a custom command sends: `typed` trimmed at both ends. False when
// nothing remains, and then nothing is to be sent.
bool CustomCommandText(const KV_String& typed, KV_String& out);

// The worker a custom command goes to: the one selected in the details view
// when that view holds the focus, else 0 (whichever worker is free).
uint32_t CustomCommandWorker(bool details_focused, uint32_t selected);

// Connect (`connect` true) needs the worker's info with connection state 0;
// Disconnect needs it with any other state. False without a table or info.
bool WorkerCommandEnabled(const KV_TavoInfoMan* table, uint32_t worker, bool connect);

// Some worker's control session runs: what "Disconnect all" would close.
bool AnyWorkerRunning(const KV_TavoInfoMan* table);

#endif
