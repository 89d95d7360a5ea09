#include "net/kv_sessopts.h"

KV_SessOpts::KV_SessOpts() = default;

KV_SessOpts::~KV_SessOpts() = default;
