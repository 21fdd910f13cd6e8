// What a GOST PKCS#12 import costs: `tokencert -infile <container> -inform
// p12 -label L` on the software token, the container made by OpenSSL's
// PKCS#12 code through the engine (PBES2 with GOST 28147-89, PBKDF2 with
// HMAC-GOST R 34.11-2012-512, 2000 iterations, MAC GOST R 34.11-2012-512)
// for a 256-bit and a 512-bit key pair. Each run is a child process; the
// figure that counts is its CPU time (user + system, "cpu_ms"), beside the
// same for `tokencert -p11 <module> -slot <slot>` alone. The objects an
// import made are removed between runs (not timed). With TOKENCERT_NOENGINE
// naming the tokencert of a build without the engine, the same run times it
// too (rows ".../noengine").
#define OPENSSL_SUPPRESS_DEPRECATED
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include <openssl/engine.h>

#include "gost_objects.h"
#include "gost_test_keys.h"
#include "module_token.h"
#include "pkcs11_core_eng.h"
#include "run_process.h"

namespace {

constexpr int kIterations = 2000;

double children_cpu_ms()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

struct Fixture {
    std::unique_ptr<ModuleToken> token = make_module_token(ModuleKind::softtoken, "import bench");
    std::string dir = testing_dir();
    static std::string testing_dir()
    {
        char tmpl[] = "/tmp/import-bench-XXXXXX";
        return mkdtemp(tmpl) ? tmpl : "/tmp";
    }
    std::string container(GostObj alg, GostObj paramset)
    {
        PkeyPtr key = generate_gost_key_pair(gost_nid(alg), gost_nid(paramset));
        X509Ptr cert = parse_certificate(certificate_der(key.get()));
        std::vector<unsigned char> der =
            gost_pkcs12_der(key.get(), cert.get(), "secret", "bench", gost_nid(GostObj::hmac_gost3411_2012_512),
                            EVP_get_digestbyname("gost3411-2012-512"), kIterations);
        std::string path = dir + "/" + gost_obj_sn(alg) + ".p12";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(der.data()), der.size());
        return der.empty() ? "" : path;
    }
    void clear()
    {
        CK_FUNCTION_LIST *f = token->functions();
        CK_SESSION_HANDLE s = token->open_session(true);
        CK_OBJECT_HANDLE h[16];
        CK_ULONG n = 0;
        f->C_FindObjectsInit(s, nullptr, 0);
        f->C_FindObjects(s, h, 16, &n);
        f->C_FindObjectsFinal(s);
        for (CK_ULONG i = 0; i < n; ++i)
            f->C_DestroyObject(s, h[i]);
        f->C_CloseSession(s);
    }
};

Fixture &fixture()
{
    static Fixture *f = [] {
        ENGINE_load_zk_p11_core();
        return new Fixture;
    }();
    return *f;
}

// The engine-free build's tokencert, or empty.
const std::string kNoEngine = std::getenv("TOKENCERT_NOENGINE") ? std::getenv("TOKENCERT_NOENGINE") : "";

void run(benchmark::State &state, const std::vector<std::string> &args, const std::string &input, bool clear,
         bool noengine)
{
    Fixture &fx = fixture();
    if (!fx.token->ok()) {
        state.SkipWithError(fx.token->error().c_str());
        return;
    }
    std::vector<std::string> argv{noengine ? kNoEngine : TOKENCERT_PATH, "-p11", fx.token->module_path(), "-slot", fx.token->slot_text()};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options;
    options.stdin_text = input;
    options.env = fx.token->env();
    options.timeout = std::chrono::seconds(60);
    double cpu = 0;
    for (auto _ : state) {
        double before = children_cpu_ms();
        ProcessResult r = run_process(argv, options);
        cpu += children_cpu_ms() - before;
        if (r.exit_status != 0) {
            state.SkipWithError((r.out + r.err).c_str());
            return;
        }
        if (clear) {
            state.PauseTiming();
            fx.clear();
            state.ResumeTiming();
        }
    }
    state.counters["cpu_ms"] = cpu / static_cast<double>(state.iterations());
}

void Import(benchmark::State &state, GostObj alg, GostObj paramset, bool noengine)
{
    std::string path = fixture().container(alg, paramset);
    if (path.empty()) {
        state.SkipWithError("no container");
        return;
    }
    run(state, {"-infile", path, "-inform", "p12", "-label", "imported"},
        std::string("secret\n") + fixture().token->user_pin() + "\n", true, noengine);
}

void Startup(benchmark::State &state, bool noengine) { run(state, {}, "", false, noengine); }

// The rows, and the same for the engine-free build's binary when given.
const bool kRegistered = [] {
    for (bool noengine : {false, true}) {
        if (noengine && kNoEngine.empty())
            break;
        const std::string suffix = noengine ? "/noengine" : "";
        benchmark::RegisterBenchmark(("Import/gost2012_256" + suffix).c_str(), Import, GostObj::gost3410_2012_256,
                                     GostObj::gost2001_cryptopro_a_paramset, noengine)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark(("Import/gost2012_512" + suffix).c_str(), Import, GostObj::gost3410_2012_512,
                                     GostObj::gost3410_2012_512_paramset_a, noengine)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark(("Startup" + suffix).c_str(), Startup, noengine)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
