#!/usr/bin/env bash
# The engine side by side with the tools a person already has, on the same
# data in the same run, loopback and tmpfs: each benchmark of bench/ that
# times a peer program times the engine's transfer right after it. One line
# per path:
#   peers PATH: ours S s, peer S s, ratio R, cpu OURS s/GiB (peer P s/GiB)
# and, for the local copies, the highest resident size of the process while
# the request ran (KV_PEERS_FILES=100000 gives the memory figure of a
# request over 100,000 files).
# ratio = peer time / ours (above 1 the engine is faster); times are per run
# (the mean of the benchmark's iterations).
#
# Sizes (environment; the defaults are a short run for CI):
#   KV_PEERS_BIG_MIB   the one big file in MiB (16; 1024 for the full figures)
#   KV_PEERS_FILES     the tree of 4 KiB files (200; 10000 for the full figures)
#   KV_PEERS_FILTER    a regular expression over the path names (all)
#   KV_PEERS_BIN       the benchmark program (build/release/bench/kv_bench,
#                      built here when missing)
#   KV_JOBS            build jobs (3)
# Needs root and the servers of tests/support (vsftpd, sshd, Apache) and the
# peers lftp, curl, sftp and cp; a path whose server or peer is missing
# prints "skipped" with the reason.
set -euo pipefail
cd "$(dirname "$0")/.."

big=${KV_PEERS_BIG_MIB:-16}
files=${KV_PEERS_FILES:-200}
bin=${KV_PEERS_BIN:-build/release/bench/kv_bench}
jobs=${KV_JOBS:-3}

if [ ! -x "$bin" ]; then
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKV_BUILD_BENCH=ON \
    -DKV_BUILD_TESTS=OFF -DKV_BUILD_APP=OFF >/dev/null
  cmake --build build/release -j "$jobs" --target kv_bench >/dev/null
fi

# Every data file lives on tmpfs, so that the figures are the programs' own.
export TMPDIR=/dev/shm
export KV_FTPBENCH_BIG_MIB=$big KV_FTPBENCH_FILES=$files
export KV_BENCH_HTTP_MIB=$big KV_BENCH_SFTP_MB=$big KV_BENCH_BIG_MIB=$big
export KV_BENCH_DAV_FILES=$files KV_BENCH_TREE_FILES=$files

out=$(mktemp -d /dev/shm/kvpeers.XXXXXX)
trap 'rm -rf "$out"' EXIT

# Benchmark name -> path name, the counter that holds peer time / ours, and
# the CPU counters (ours, the peer's; "-" where the benchmark keeps none).
table="
BM_FtpGet/streams:1/iterations:2/manual_time|FTP download ${big} MiB vs lftp|x_lftp|cpu_s_GiB|lftp_cpu_GiB
BM_FtpGet/streams:4/iterations:2/manual_time|FTP download ${big} MiB 4 fragments vs lftp pget -n 4|x_lftp|cpu_s_GiB|lftp_cpu_GiB
BM_FtpPut/iterations:2/manual_time|FTP upload ${big} MiB vs lftp|x_lftp|cpu_s_GiB|lftp_cpu_GiB
BM_FtpGetTls/iterations:2/manual_time|FTPS download ${big} MiB vs lftp|x_lftp|cpu_s_GiB|lftp_cpu_GiB
BM_FtpPutTls/iterations:2/manual_time|FTPS upload ${big} MiB vs lftp|x_lftp|cpu_s_GiB|lftp_cpu_GiB
BM_FtpTreeGet/iterations:1/manual_time|FTP download ${files} x 4 KiB 4 connections vs lftp mirror|x_lftp|-|-
BM_FtpTreePut/iterations:1/manual_time|FTP upload ${files} x 4 KiB 4 connections vs lftp mirror -R|x_lftp|-|-
BM_HttpGet/iterations:3/manual_time|HTTP GET ${big} MiB vs curl|x_curl|cpu_s_gib|curl_cpu_s_gib
BM_HttpPut/chunked:0/iterations:3/manual_time|HTTP PUT ${big} MiB vs curl|x_curl|cpu_s_gib|curl_cpu_s_gib
BM_DavDownFiles/iterations:1/manual_time|WebDAV download ${files} x 4 KiB 1 connection vs curl -K|x_curl|-|-
BM_DavUpFiles/iterations:1/manual_time|WebDAV upload ${files} x 4 KiB 1 connection vs curl -K|x_curl|-|-
BM_SftpBigFile/0/iterations:1/manual_time|SFTP download ${big} MiB aes128-cbc hmac-sha1 vs sftp|x_sftp|-|-
BM_SftpBigFile/1/iterations:1/manual_time|SFTP upload ${big} MiB aes128-cbc hmac-sha1 vs sftp|x_sftp|-|-
BM_CopyRequestTree/workers:1/manual_time|Local ${files} x 4 KiB 1 worker vs cp -r|x_cp|-|-
BM_CopyRequestTree/workers:4/manual_time|Local ${files} x 4 KiB 4 workers vs cp -r|x_cp|-|-
BM_CopyRequestBigFile/workers:1/manual_time|Local ${big} MiB vs cp|x_cp|-|-
"
filter='^BM_(Ftp(Get|Put|GetTls|PutTls|TreeGet|TreePut)|HttpGet|HttpPut/chunked:0|Dav(Down|Up)Files|SftpBigFile|CopyRequest(Tree|BigFile/workers:1))'

"$bin" --benchmark_filter="$filter" --benchmark_out="$out/run.json" \
  --benchmark_out_format=json >"$out/run.txt" 2>&1 || {
  cat "$out/run.txt" >&2
  exit 1
}

TABLE=$table PEERS_FILTER=${KV_PEERS_FILTER:-} python3 - "$out/run.json" <<'EOF'
import json, os, re, sys
runs = {b["name"]: b for b in json.load(open(sys.argv[1]))["benchmarks"]}
want = os.environ["PEERS_FILTER"]
for row in os.environ["TABLE"].strip().splitlines():
    name, path, ratio_key, cpu_key, peer_cpu_key = row.split("|")
    if want and not re.search(want, path):
        continue
    b = runs.get(name)
    if b is None:
        print(f"peers {path}: not run")
        continue
    if b.get("error_occurred"):
        print(f"peers {path}: skipped ({b.get('error_message', '')})")
        continue
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b.get("time_unit", "ns")]
    ours = b["real_time"] * scale
    ratio = b.get(ratio_key, 0.0)
    line = f"peers {path}: ours {ours:.3f} s, peer {ours * ratio:.3f} s, ratio {ratio:.2f}"
    if cpu_key != "-" and cpu_key in b:
        line += f", cpu {b[cpu_key]:.2f} s/GiB"
        if peer_cpu_key in b:
            line += f" (peer {b[peer_cpu_key]:.2f} s/GiB)"
    if "peak_rss_mb" in b:
        line += f", peak {b['peak_rss_mb']:.0f} MB resident"
    print(line)
EOF
