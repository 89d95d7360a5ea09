#include "ftp/kv_ftpman.h"

std::atomic<bool> KV_FtpMan::_trexpl{true};
