#ifndef KIVREL_CORE_REQMONITOR_H
#define KIVREL_CORE_REQMONITOR_H

// The rules of the windows that follow requests and workers, without any
// widget: the texts of a request row and its tip, the pictures a row shows,
// which request commands a status allows, the order of rows, the tab
// stepping of a tabbed view, and how a request-log line becomes a row.
// Plain functions of their arguments; any thread.

#include "datasources/kv_reqdefs.h"
#include "requests/kv_filereqinfo.h"

#include <QString>
#include <cstdint>

class KV_SessInfo;

namespace kvmon {

// "%s: %s" (operation, description) when no progress is known or the
// request has ended (Restarting, Completed, Error, Cancelled), else
// "%s ( %s %d%% ) : %s" with the direction word and the percentage.
QString ReqRowText(const KV_FileReqInfo& info);

// The tip of a request row: operation, status, progress, description, then
// the last error and the waiting-upload line when they apply.
QString ReqTipText(const KV_FileReqInfo& info);

// Progress values without a known percentage.
bool ProgressKnown(int32_t prog_perc);
// A progress value below 101 is a download of that percentage, from 101 on
// an upload of (value - 101) percent.
bool ProgressIsUpload(int32_t prog_perc);
int ProgressPercent(int32_t prog_perc);

// The bitmap id of a request's icon in the transfer list.
uint32_t ReqIconBitmap(KV_REQ_TYPE type, KV_FILEOP fileop);

// Overlays of a row: 0 none, 1 completed, 2 error, 3 errors, 4 completed
// and kept (flag 4).
enum { kOverlayNone = 0 };
// The overlay of a row when the row is written whole (added or changed).
int ReqOverlay(const KV_FileReqInfo& info);
// The overlay after a blink tick (`kind` 4) or an acknowledgement (5):
// unseen results show only in the lit phase; acknowledged ones steadily,
// except "errors", which only blinks.
int ReqBlinkOverlay(const KV_FileReqInfo& info, KV_REQ_NTF kind, bool blink_lit);
// The bitmap id of an overlay, 0 for none.
uint32_t OverlayBitmap(int overlay);
// The bitmap id of a traffic light.
uint32_t LightBitmap(KV_REQ_TL tl);

// Whether a command on one selected request is enabled; `info` null when
// the request has no snapshot (only the commands that need a selection
// alone are then enabled: View Info, Browse, Parameters).
bool ReqCommandEnabled(uint32_t cmd, const KV_FileReqInfo* info);

// The "some listed request" tests of the all-request commands: 0 some is
// not processed, 1 some is processed, 2 some runs, 3 some is paused.
bool ReqMatches(int what, const KV_FileReqInfo& info);

// Row order of the transfer list. Start times (`time_column`): 0 when
// equal, 1 when `a` is later, -1 otherwise, negated when `flag` is clear;
// a missing snapshot gives 0. Texts: case-insensitive, second against first
// with `flag`, first against second without. A negative result puts `a`
// first.
int CompareReqStart(const KV_FileReqInfo* a, const KV_FileReqInfo* b, bool flag);
int CompareTexts(const QString& a, const QString& b, bool flag);

// Tab titles are cut to this many characters.
constexpr int kTabTitleMax = 49;
QString TabTitle(const QString& text);
// The tab Ctrl+Tab (or Ctrl+Shift+Tab with `back`) goes to, wrapping; -1
// without tabs.
int NextTab(int current, int count, bool back);

// The text colours of the request-log window, by code: 0 black, 1 dark
// blue, 2 green, 3 red, 4 orange, as 0xRRGGBB; -1 (the list's own colour)
// for codes 5 and above.
int64_t LogColourRgb(int code);
enum { kClrBlack = 0, kClrBlue = 1, kClrGreen = 2, kClrRed = 3, kClrOrange = 4, kClrDefault = 5 };

// How one request-log line shows: the "Type" text and the colour codes of
// the "Type", "Status" and "File" cells ("Time" is always black).
struct LogCells
{
    QString type;
    int type_clr = kClrDefault;
    int status_clr = kClrDefault;
    int file_clr = kClrDefault;
};
LogCells LogElemCells(const KV_FileReqLogElem& elem);

// The row of a request-log line (its 1-based sequence number less one), or
// -1 when the line is to be skipped: a line whose row lies beyond the rows
// shown plus the lines of its notice cannot be one the window follows, and
// filling the gap up to it would add rows without end.
int LogElemRow(const KV_FileReqLogElem& elem, int rows_shown, int elems_in_notice);

// The "Trans." amount of a worker: the larger of its session's two byte
// counters compared as signed values (the received one when equal), and
// the speed that belongs to it.
struct TavoAmount
{
    int64_t bytes = 0;
    double speed = 0;
};
TavoAmount TavoTransferred(const KV_SessInfo& sess);

} // namespace kvmon

#endif
