// test_plugin.cpp - the plugin frame: refusal, options, the canvas roots
// shared across processes, the nested canvas lock, cleanup, the
// qvp_drawcanvas command, the GL entry-point table and its reporting.
#include <errno.h>
#include <pthread.h>

#include <string>
#include <thread>
#include <map>
#include <numeric>
#include <vector>

#include <algorithm>

#include "drawcanvas_private.h"
#include "drawcanvas_testing.h"
#include "lru_index.h"
#include "gl_probe.h"
#include "qvp_externs.h"
#include "qvp_globals.h"

extern "C" int QVF_InitializePluginCB(QVS_PLUGIN *plugin);
extern "C" void QVF_CleanupPluginCB(void);

namespace {

// Commands "installed" through the fake QVS_TARN.
std::vector<std::string> g_installed;
int fake_install(const char *name, Tcl_ObjCmdProc *, ClientData) {
    g_installed.push_back(name);
    return 1;
}

class Plugin : public DisplayFixture {
protected:
    void SetUp() override {
        DisplayFixture::SetUp();
        ResetPluginState();
        SetGLProcLookup(nullptr);
        g_installed.clear();
        tarn_ = (QVS_TARN *)QVF_GetDataFromProcess("QVS_TARN");
        if (!tarn_) tarn_ = (QVS_TARN *)QVF_AddDataToProcess("QVS_TARN", sizeof(QVS_TARN));
        tarn_->tkwin = (void *)QVV_display;
        tarn_->InstallPluginCmd = fake_install;
    }
    int init(std::vector<std::string> args) {
        args.insert(args.begin(), "qvp_drawcanvas.so");
        std::vector<char *> av;
        for (auto &a : args) av.push_back((char *)a.c_str());
        QVS_PLUGIN p{};
        p.argc = (int)av.size();
        p.argv = av.data();
        QVH_LogClear();
        return QVF_InitializePluginCB(&p);
    }
    int warnings(const char *text) {
        int n = 0;
        for (int i = 0; i < QVH_LogCount(); i++)
            if (QVH_LogGet(i)->level == QVH_LOG_WARNING && strcmp(QVH_LogGet(i)->text, text) == 0) n++;
        return n;
    }
    QVS_TARN *tarn_;
};

const char *kRefusal = "qvp_drawcanvas plugin can only be used in a display process "
                       "(ie qvp_viewer or a TARN process running with a visual)";
const char *kUsage = "qvp_drawcanvas [-image_objs max_objects] [-video_objs max_objects]";

TEST_F(Plugin, Refusal_NoVisualWindowButCommandInstalled) {
    tarn_->tkwin = nullptr;
    EXPECT_EQ(init({}), 0);
    EXPECT_EQ(warnings(kRefusal), 1);
    EXPECT_EQ(g_installed, std::vector<std::string>{"qvp_drawcanvas"});
    EXPECT_EQ(pinfo, nullptr);
    EXPECT_EQ(QVF_GetDataFromScene(QVV_scene, "QVP_CANVAS_INFO"), nullptr);
    EXPECT_EQ(QVF_GetDataFromProcess("QVP_CANVAS_PROC_INFO"), nullptr);
    QVF_CleanupPluginCB();  // nothing to release, nothing breaks
}

TEST_F(Plugin, Refusal_NoVisualFeatureOrNoDisplay) {
    QVS_TARN_FEATURES *f = (QVS_TARN_FEATURES *)QVF_AddDataToProcess("QVS_TARN_FEATURES", sizeof *f);
    f->no_visual = 1;
    EXPECT_EQ(init({}), 0);
    EXPECT_EQ(warnings(kRefusal), 1);
    f->no_visual = 0;
    QVS_DISPLAY *d = QVV_display;
    QVV_display = nullptr;
    EXPECT_EQ(init({}), 0);
    QVV_display = d;
    EXPECT_EQ(warnings(kRefusal), 1);
}

TEST_F(Plugin, Refusal_FullArenaMakesNoRecords) {
    while (QVH_Alloc(4096)) {
    }
    while (QVH_Alloc(16)) {
    }
    EXPECT_EQ(init({}), 0);
    EXPECT_EQ(warnings("qvp_drawcanvas: cannot create the canvas records; canvases will not be drawn"), 1);
    EXPECT_EQ(pinfo, nullptr);
    QVH_RunFrames(1);  // no callback runs, nothing breaks
}

TEST_F(Plugin, Active_WithoutTarnHasNoCommand) {
    tarn_->InstallPluginCmd = nullptr;  // stands for no QVS_TARN record
    QVH_ClearProcessData();
    EXPECT_EQ(init({}), 1);
    EXPECT_TRUE(g_installed.empty());
    EXPECT_EQ(warnings(kRefusal), 0);
    EXPECT_GT(stencil_bits, 0);
    EXPECT_NE(canvas_fbo, 0u);
}

TEST_F(Plugin, Options_ClampedAndUsageOnUnknown) {
    struct Case {
        std::vector<std::string> args;
        int image, video, canvas, usage;
    } cases[] = {
        {{"-image_objs", "25"}, 10, 10, 10, 0},
        {{"-video_objs", "-3"}, 10, 0, 10, 0},
        {{"-canvas_objs", "many"}, 10, 10, 0, 0},
        {{"-image_objs", "4", "-canvas_objs", "2"}, 4, 10, 2, 0},
        {{"-bogus", "-video_objs", "7"}, 10, 7, 10, 1},
        {{"-IMAGE_objs", "3", "-image_objs", "3x"}, 3, 10, 10, 2},  // case-sensitive; "3" itself is unknown
        {{"-image_objs", "5", "-video_objs"}, 5, 10, 10, 1},        // no value: stop reading
    };
    for (auto &c : cases) {
        ResetPluginState();
        ASSERT_EQ(init(c.args), 1);
        EXPECT_EQ(max_image_objs, c.image) << c.args[0];
        EXPECT_EQ(max_video_objs, c.video) << c.args[0];
        EXPECT_EQ(max_canvas_objs, c.canvas) << c.args[0];
        EXPECT_EQ(warnings(kUsage), c.usage) << c.args[0];
    }
}

TEST_F(Plugin, Roots_CreatedOnceWithVersion) {
    ASSERT_EQ(init({}), 1);
    ASSERT_NE(pinfo, nullptr);
    EXPECT_EQ(pinfo, QVF_GetDataFromScene(QVV_scene, "QVP_CANVAS_INFO"));
    EXPECT_TRUE(QVH_InArena(pinfo));
    EXPECT_EQ(pinfo->tex_obj, 1234567);
    // 2026-12-06: only the builder named the font folder, so the root
    // depended on which process came first.
    EXPECT_STREQ(pinfo->font_dir, "/usr/share/fonts/truetype/dejavu");
    ASSERT_NE(pinfo->access_lock, nullptr);
    EXPECT_TRUE(QVH_InArena(pinfo->access_lock));
    EXPECT_EQ(pinfo->list, nullptr);
    ASSERT_NE(pprocinfo, nullptr);
    EXPECT_EQ(pprocinfo->element_id, 1);
    EXPECT_EQ(pprocinfo->is_locked, 0);
    EXPECT_EQ(pprocinfo->defined_fonts, nullptr);
    // Initialising again finds both roots and leaves them as they are.
    QVP_CANVAS_INFO *first = pinfo;
    QVS_SMLOCK *lock = pinfo->access_lock;
    pinfo->tex_obj = 1234600;
    ASSERT_EQ(init({}), 1);
    EXPECT_EQ(pinfo, first);
    EXPECT_EQ(pinfo->access_lock, lock);
    EXPECT_EQ(pinfo->tex_obj, 1234600);
}

TEST_F(Plugin, Roots_SecondProcessFindsThemUntouched) {
    ASSERT_EQ(init({}), 1);
    pinfo->tex_obj = 1234589;  // as if fonts had been made
    int fd;
    pid_t pid = spawn_helper({"plugin", name_, QVP_PLUGIN_MODULE}, &fd);
    std::string line = read_line(fd, 10000);
    close(fd);
    EXPECT_EQ(wait_child(pid, 10000), 0);
    char want[128];
    snprintf(want, sizeof want, "1 %d %p 0", 1234589, (void *)pinfo->access_lock);
    EXPECT_EQ(line, want);
    EXPECT_EQ(pinfo->tex_obj, 1234589);
}

bool held_elsewhere(QVS_SMLOCK *lock) {
    int rc = 0;
    std::thread t([&] {
        pthread_mutex_t *m = (pthread_mutex_t *)lock->id;
        rc = pthread_mutex_trylock(m);
        if (rc == 0) pthread_mutex_unlock(m);
    });
    t.join();
    return rc == EBUSY;
}

TEST_F(Plugin, Lock_NestsAndOnlyOutermostTouchesSharedLock) {
    ASSERT_EQ(init({}), 1);
    LockCanvasInfo();
    EXPECT_TRUE(held_elsewhere(pinfo->access_lock));
    LockCanvasInfo();
    LockCanvasInfo();
    EXPECT_EQ(pprocinfo->is_locked, 3);
    EXPECT_EQ(QVH_SignalDepth(), 3);
    UnlockCanvasInfo();
    UnlockCanvasInfo();
    EXPECT_TRUE(held_elsewhere(pinfo->access_lock));
    EXPECT_EQ(QVH_SignalDepth(), 1);
    UnlockCanvasInfo();
    EXPECT_FALSE(held_elsewhere(pinfo->access_lock));
    EXPECT_EQ(pprocinfo->is_locked, 0);
    EXPECT_EQ(QVH_SignalDepth(), 0);
}

TEST_F(Plugin, Cleanup_WhileHoldingReleasesAtAnyDepth) {
    ASSERT_EQ(init({}), 1);
    LockCanvasInfo();
    LockCanvasInfo();
    QVF_CleanupPluginCB();
    EXPECT_EQ(pprocinfo->is_locked, 0);
    EXPECT_FALSE(held_elsewhere(pinfo->access_lock));
    // Not holding: nothing happens, no complaint from the lock.
    QVH_LogClear();
    QVF_CleanupPluginCB();
    EXPECT_EQ(QVH_LogCount(), 0);
    // Signals are not resumed by cleanup.
    EXPECT_EQ(QVH_SignalDepth(), 2);
    QVF_ResumeSignals();
    QVF_ResumeSignals();
}

// Runs the command with ARGS (a Tcl list); returns "ok RESULT" or
// "error RESULT".
std::string cmd(Tcl_Interp *interp, const char *args) {
    std::string script = std::string("qvp_drawcanvas ") + args;
    int rc = Tcl_Eval(interp, script.c_str());
    return std::string(rc == TCL_OK ? "ok " : "error ") + Tcl_GetStringResult(interp);
}

TEST(Command, Results_ExactStrings) {
    ResetPluginState();
    Tcl_Interp *interp = Tcl_CreateInterp();
    Tcl_CreateObjCommand(interp, "qvp_drawcanvas", DRAWCANVAS_cmd, nullptr, nullptr);
    EXPECT_EQ(cmd(interp, "disable"), "ok ");
    EXPECT_EQ(cmd(interp, "enable"), "ok CANVAS SCENE BACKGROUND FOREGROUND");
    EXPECT_EQ(cmd(interp, "disable {scene Foreground}"), "ok ");
    EXPECT_EQ(cmd(interp, "disable"), "ok SCENE FOREGROUND");
    EXPECT_EQ(cmd(interp, "enable"), "ok CANVAS BACKGROUND");
    EXPECT_EQ(cmd(interp, "disable ALL"), "ok ");
    EXPECT_EQ(cmd(interp, "enable canvas"), "ok ");
    EXPECT_EQ(draw_canvas, 1);
    EXPECT_EQ(draw_scene + draw_background + draw_foreground, 0);
    EXPECT_EQ(cmd(interp, "enable ALL"), "ok ");
    EXPECT_EQ(cmd(interp, "Disable SCENE"), "ok ");
    EXPECT_EQ(draw_scene, 1);
    EXPECT_EQ(cmd(interp, "disable {nothing scene} ignored words"), "ok ");
    EXPECT_EQ(cmd(interp, "disable"), "ok SCENE");
    EXPECT_EQ(cmd(interp, "toggle SCENE"), "ok ");
    // No argument is a usage error; a list that does not parse changes
    // nothing and says what was wrong and what is wanted (2026-12-06: it
    // gave Tcl's bare list error).
    EXPECT_EQ(cmd(interp, ""), "error wrong # args: should be \"qvp_drawcanvas enable|disable ?switches?\"");
    EXPECT_EQ(cmd(interp, "enable \"SCENE \\{unbalanced\""),
              "error qvp_drawcanvas enable: the switches are not a list (unmatched open brace in list); give names "
              "among CANVAS, SCENE, BACKGROUND, FOREGROUND and ALL");
    EXPECT_EQ(draw_scene, 0);
    Tcl_DeleteInterp(interp);
}

// A lookup that finds nothing ending in ARB.
QVP_GLPROC no_arb(const char *name) {
    size_t n = strlen(name);
    if (n > 3 && strcmp(name + n - 3, "ARB") == 0) return nullptr;
    return QVP_GetGLProcAddress(name);
}
QVP_GLPROC nothing(const char *) { return nullptr; }

TEST_F(Plugin, EntryPoints_ResolvedOrFallingBack) {
    // Mesa offers every name: no status line.
    ASSERT_EQ(init({}), 1);
    for (int i = 0; i < QVH_LogCount(); i++) EXPECT_EQ(strstr(QVH_LogGet(i)->text, "not supported"), nullptr);

    SetGLProcLookup(no_arb);
    QVH_LogClear();
    ResolveGLEntryPoints();
    std::vector<std::string> status;
    for (int i = 0; i < QVH_LogCount(); i++)
        if (QVH_LogGet(i)->level == QVH_LOG_STATUS) status.push_back(QVH_LogGet(i)->text);
    ASSERT_EQ(status.size(), 16u);
    EXPECT_EQ(status[0], "glFramebufferRenderbufferARB not supported!");
    EXPECT_EQ(status[15], "glRenderbufferStorageMultisampleARB not supported!");
    const char *dummy = "OOPS.... looks like were trying to use an OpenGL extension that we don't have a pointer to!";
    QVH_LogClear();
    TARN_glBindFramebufferARB(GL_FRAMEBUFFER, 0);
    TARN_glBlitFramebufferARB(0, 0, 1, 1, 0, 0, 1, 1, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    EXPECT_EQ(warnings(dummy), 2);
    EXPECT_EQ(TARN_glCheckFramebufferStatusARB(GL_FRAMEBUFFER), 0u);

    // Nothing resolves: the framebuffer object is never made.
    SetGLProcLookup(nothing);
    canvas_fbo = 0;
    QVH_LogClear();
    ResolveGLEntryPoints();
    EXPECT_EQ(canvas_fbo, 0u);
    EXPECT_EQ(warnings(dummy), 1);
    EXPECT_EQ(TARN_glIsFramebufferEXT(1), 0);
    EXPECT_STREQ(FCheckForCompleteness("X", 1), "X : Framebuffer object errored with status = 0x00000000!!!");
}

GLenum g_status;
GLenum APIENTRY fake_status(GLenum) { return g_status; }

TEST_F(Plugin, Framebuffer_StatusMessages) {
    ASSERT_EQ(init({}), 1);
    // A real framebuffer with no attachment, then with a texture.
    TARN_glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, canvas_fbo);
    EXPECT_STREQ(FCheckForCompleteness(nullptr, 42), "line    42 : Incomplete missing attachment to buffer!!!");
    GLuint tex;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 16, 16, 0, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    TARN_glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, tex, 0);
    EXPECT_EQ(FCheckForCompleteness("CANVAS FBO", 1), nullptr);
    TARN_glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);

    struct {
        GLenum status;
        const char *text;
    } cases[] = {
        {GL_FRAMEBUFFER_UNSUPPORTED_EXT, "CANVAS FBO : Unsupported framebuffer format!!!"},
        {GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT_EXT, "CANVAS FBO : Incomplete attachment to buffer!!!"},
        {GL_FRAMEBUFFER_INCOMPLETE_DIMENSIONS_EXT, "CANVAS FBO : Incomplete dimension of buffer!!!"},
        {GL_FRAMEBUFFER_INCOMPLETE_FORMATS_EXT, "CANVAS FBO : Incomplete format of buffer!!!"},
        {GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER_EXT, "CANVAS FBO : Incomplete draw buffer!!!"},
        {GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER_EXT, "CANVAS FBO : Incomplete read buffer!!!"},
        {0x8cd8, "CANVAS FBO : Framebuffer object errored with status = 0x00008cd8!!!"},
    };
    PFNGLCHECKFRAMEBUFFERSTATUSEXTPROC real = TARN_glCheckFramebufferStatusEXT;
    TARN_glCheckFramebufferStatusEXT = fake_status;
    for (auto &c : cases) {
        g_status = c.status;
        EXPECT_STREQ(FCheckForCompleteness("CANVAS FBO", 7), c.text);
    }
    TARN_glCheckFramebufferStatusEXT = real;
}

TEST_F(Plugin, GLErrors_ReportedOrDrained) {
    ASSERT_EQ(init({}), 1);
    QVH_LogClear();
    LogGLErrors_F(1, "canvas.cpp", 12);
    EXPECT_EQ(QVH_LogCount(), 0);
    glEnable(0x1234);  // GL_INVALID_ENUM
    LogGLErrors_F(1, "canvas.cpp", 12);
    ASSERT_EQ(QVH_LogCount(), 1);
    EXPECT_STREQ(QVH_LogGet(0)->text, "canvas.cpp - line 12) generated GL_INVALID_ENUM error!");
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();  // GL_STACK_UNDERFLOW
    LogGLErrors_F(0, "canvas.cpp", 13);
    EXPECT_EQ(QVH_LogCount(), 1);
    EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR);
}

}  // namespace

// The bounded index under random finds, inserts and removals, at its
// bound, against a model (a recency list): the same entries found, the
// least recent evicted, the order kept, also across Grow from a smaller
// bound. Hashes collide on purpose (a few bits only) so that clusters
// form and removals shift them. Notes written beside the slots stay as
// written while entries move under them (a Grow starts them again).
TEST(LruIndexTable, Model_SameAnswersAtTheBound) {
    for (auto [first, most] : std::vector<std::pair<int, int>>{{1, 1}, {7, 7}, {64, 64}, {1, 48}, {5, 64}}) {
        LruIndex ix;
        ASSERT_TRUE(ix.Init(first, realloc));
        int bound = first;
        std::vector<uint64_t> key(most);         // per entry
        std::vector<int> order;                  // most recent first
        std::map<uint32_t *, uint32_t> notes;    // as written
        uint32_t seed = 12345;
        auto rnd = [&seed] { return seed = seed * 1664525u + 1013904223u; };
        for (int step = 0; step < 20000; step++) {
            if (step % 2500 == 2499 && bound < most) {
                int grown = std::min(most, 2 * bound);
                ASSERT_FALSE(ix.Grow(bound, realloc)) << "not above the bound";
                ASSERT_TRUE(ix.Grow(grown, realloc));
                bound = grown;
                ASSERT_EQ(ix.Most(), bound);
                notes.clear();
            }
            uint64_t k = rnd() % (uint32_t)(3 * most) + 1;
            uint64_t h = k & 7;  // many keys per hash
            int want = -1;
            for (int e : order)
                if (key[e] == k) want = e;
            int got = ix.Find(h, [&](int e) { return key[e] == k; });
            ASSERT_EQ(got, want) << "most " << most << " step " << step;
            int op = (int)(rnd() % 4);
            if (op == 3) {
                uint32_t *n = ix.Note(h, step & 1);
                *n = notes[n] = (uint32_t)step | 1;
            }
            if (got >= 0 && op == 0) {
                ix.Remove(got);
                order.erase(std::find(order.begin(), order.end(), got));
            } else if (got >= 0) {
                ix.Touch(got);
                order.erase(std::find(order.begin(), order.end(), got));
                order.insert(order.begin(), got);
            } else {
                int evicted, oldest = order.size() == (size_t)bound ? order.back() : -1;
                int e = ix.Insert(h, &evicted);
                ASSERT_EQ(evicted, oldest) << "the least recent goes";
                ASSERT_LT(e, bound);
                if (evicted >= 0) order.pop_back();
                key[e] = k;
                order.insert(order.begin(), e);
            }
            ASSERT_EQ(ix.Count(), (int)order.size());
            ASSERT_EQ(ix.Oldest(), order.empty() ? -1 : order.back());
        }
        LruIndexStats st = ix.Stats();
        EXPECT_LE(st.longest, most) << "a probe never walks more than the entries";
        EXPECT_EQ(std::accumulate(st.spread, st.spread + kLruSpread, 0), st.entries) << "every entry in the spread";
        EXPECT_GE(st.slots, 2 * st.most) << "at most half full";
        for (auto &n : notes) EXPECT_EQ(*n.first, n.second) << "most " << most;
        ix.Free();
    }
}
