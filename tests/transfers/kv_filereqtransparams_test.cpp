// The parameters of the transfer requests: their binary forms byte for byte,
// and what an assignment between kinds copies.
#include "datasources/kv_filereqtransparams.h"

#include <gtest/gtest.h>

#include <memory>

#include "foundation/kv_storage.h"
#include "transfers/kv_transtest.h"

namespace {

using transtest::Bytes;
using transtest::put;

Bytes stored(const KV_FileReqTransParams& p)
{
    KV_Stream st;
    EXPECT_TRUE(p.write_bin(st));
    const unsigned char* b = st;
    return b ? Bytes(b, b + st.length()) : Bytes();
}

KV_FileReqTransParamsCp full_cp()
{
    KV_FileReqTransParamsCp p;
    p.set_forced_exec(KV_FEXEC_FORCED);
    p.set_tm_start(KV_Time(1700000000L));
    p.set_tm_started(KV_Time(1600000000L));
    p.set_mirror(2);
    p.set_tm_type(3);
    p.set_tm_def(13 * 3600 + 5 * 60 + 9);
    p.set_dayspec(6);
    p.set_skip_sz(true);
    p.set_del_src(false);
    p.set_dtrans(true);
    return p;
}

TEST(TransParams, CopyFormIsTwentyThreeBytesInFieldOrder)
{
    Bytes want;
    put<uint32_t>(want, 1);         // forced_exec
    put<int32_t>(want, 1700000000); // tm_start
    put<int32_t>(want, 1600000000); // tm_started
    put<uint8_t>(want, 2);          // mirror
    put<uint8_t>(want, 3);          // tm_type
    put<uint32_t>(want, 47109);     // tm_def
    put<uint16_t>(want, 6);         // dayspec
    put<uint8_t>(want, 1);          // skip_sz
    put<uint8_t>(want, 0);          // del_src
    put<uint8_t>(want, 1);          // dtrans
    ASSERT_EQ(want.size(), KV_FileReqTransParamsCp::BIN_SIZE);
    EXPECT_EQ(stored(full_cp()), want);

    KV_Stream st;
    ASSERT_TRUE(st.append(want.data(), static_cast<uint32_t>(want.size())));
    KV_FileReqTransParamsCp back;
    ASSERT_TRUE(back.read_bin(st));
    EXPECT_EQ(stored(back), want);
    EXPECT_EQ(back.dayspec(), 6);
    EXPECT_TRUE(back.dtrans());
    EXPECT_EQ(st.length(), 0u);
}

TEST(TransParams, RenameAndDeleteFormsAreTheTwelveCommonBytes)
{
    KV_FileReqTransParamsRm rm;
    rm.set_tm_start(KV_Time());
    rm.set_tm_started(KV_Time(5L));
    Bytes want;
    put<uint32_t>(want, 0);
    put<int32_t>(want, -1); // no scheduled start
    put<int32_t>(want, 5);
    EXPECT_EQ(stored(rm), want);
    KV_FileReqTransParamsRen ren(rm);
    EXPECT_EQ(stored(ren), want);
    EXPECT_EQ(rm.type(), KV_REQ_TYPE_TRANS_RM);
    EXPECT_EQ(ren.type(), KV_REQ_TYPE_TRANS_REN);
    EXPECT_EQ(full_cp().type(), KV_REQ_TYPE_TRANS_CP);
}

TEST(TransParams, DefaultCopyParametersReadBack)
{
    const KV_FileReqTransParamsCp p;
    const Bytes b = stored(p);
    ASSERT_EQ(b.size(), 23u);
    KV_Stream st;
    ASSERT_TRUE(st.append(b.data(), static_cast<uint32_t>(b.size())));
    KV_FileReqTransParamsCp back;
    back.set_mirror(1);
    ASSERT_TRUE(back.read_bin(st));
    EXPECT_EQ(back.forced_exec(), KV_FEXEC_NONE);
    EXPECT_FALSE(back.tm_start().valid());
    EXPECT_EQ(back.tm_started(), p.tm_started());
    EXPECT_EQ(back.mirror(), 0);
    EXPECT_EQ(back.tm_def(), 0u);
    EXPECT_FALSE(back.skip_sz() || back.del_src() || back.dtrans());
}

TEST(TransParams, AKindCopiesItsOwnFieldsOnlyFromItsOwnKind)
{
    const KV_FileReqTransParamsCp cp = full_cp();
    KV_FileReqTransParamsRen ren(cp);
    EXPECT_EQ(ren.forced_exec(), KV_FEXEC_FORCED);
    EXPECT_EQ(ren.tm_started(), cp.tm_started());

    KV_FileReqTransParamsCp from_ren(ren);
    EXPECT_EQ(from_ren.tm_start(), cp.tm_start());
    EXPECT_EQ(from_ren.mirror(), 0) << "a rename set has no mirror mode to give";
    EXPECT_EQ(from_ren.tm_def(), 0u);

    // Through the base, the dynamic kind decides.
    KV_FileReqTransParamsCp target;
    KV_FileReqTransParams& as_base = target;
    as_base = static_cast<const KV_FileReqTransParams&>(cp);
    EXPECT_EQ(stored(target), stored(cp));
    std::unique_ptr<KV_FileReqTransParams> clone(cp.clone());
    ASSERT_NE(clone, nullptr);
    EXPECT_EQ(clone->type(), KV_REQ_TYPE_TRANS_CP);
    EXPECT_EQ(stored(*clone), stored(cp));
    KV_FileReqTransParams::destr_clone(clone.release());
    KV_FileReqTransParams::destr_clone(nullptr);
}

TEST(TransParams, AShortStorageFailsTheRead)
{
    const Bytes b = stored(full_cp());
    for (size_t n : {size_t(0), size_t(11), size_t(12), size_t(22)}) {
        SCOPED_TRACE(n);
        KV_Stream st;
        if (n > 0) {
            ASSERT_TRUE(st.append(b.data(), static_cast<uint32_t>(n)));
        }
        KV_FileReqTransParamsCp back;
        EXPECT_FALSE(back.read_bin(st));
    }
    // The common part alone is a whole rename set.
    KV_Stream st;
    ASSERT_TRUE(st.append(b.data(), 12));
    KV_FileReqTransParamsRen ren;
    EXPECT_TRUE(ren.read_bin(st));
    EXPECT_EQ(ren.forced_exec(), KV_FEXEC_FORCED);
}

} // namespace
