#include "http/kv_httpman.h"

std::atomic<bool> KV_HttpMan::_trexpl{false};
