// zorflash-gtk: the Linux edition in a GTK 4 window, for a tablet used with a pen or a finger.
// The GTK loop is the front end's loop: it starts the app, calls its tick every 100 ms while
// the app wants ticks, hands it Update, Exit, close and the family choice, and ends with the
// app's exit code. One instance at a time with the terminal editions: the same lock.
#include <unistd.h>

#include <glib-unix.h>
#include <adwaita.h>

#include <climits>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include "app/app.h"
#include "app/app_loop.h"
#include "app/program.h"
#include "front/gtk/gtk_view.h"

namespace {

const char kProgramName[] = "zorflash-gtk";
const char kApplicationId[] = "org.zorflash.ZorflashGtk";
// A window run as root would load what the user's environment names (GTK and GIO modules,
// themes, the session bus) into a process that may write the sensor. The package's udev
// rule gives the seat's user the sensor, so the window never needs root.
const char kRootRefusedText[] =
    "zorflash-gtk: the window does not run as root. The zorflash package lets the user at the "
    "tablet update the pen sensor, so start the window as that user; as root, use "
    "zorflash --update.";

struct GtkRun {
    View view;
    AppState* app;
    AppLoop around;
    ProgramState* program;
    char* programPath;       // argv[0], the only argument GApplication gets
    uint32_t tickSource;
    int exitCode;
    bool finished;
    bool windowWanted;       // the run has a window (not --info)
    char refusal[kRefusalCapacity];  // why the run cannot begin, shown in the window; "" when it can
};

// The platform's notice that a sensor's node may not be opened is written as its diagnostic
// line, and the window tells it too: started from a menu, nobody reads standard error.
// Notices come on whichever thread met them; the view carries them to its loop.
void OnNotice(const PlatNotice& notice, const char* message, void* context) {
    if (notice.kind == PlatNoticeKind::NoPermission) {
        gtk_view_show_permission(static_cast<View*>(context), message);
    }
}

// The window speaks the user's language where a translation is installed; a build that is
// not installed names its own folder of translations. The installed ones are found from the
// program's own place: the package installs under /usr whatever prefix the build was
// configured with (/usr/local by default), and the translations sit beside the program.
void StartTranslations() {
    std::setlocale(LC_ALL, "");
    const char* folder = std::getenv("ZORFLASH_LOCALE_DIR");
    char installed[PATH_MAX + sizeof ZORFLASH_LOCALE_DIR_FROM_BIN];
    if (folder == nullptr || folder[0] != '/') {
        folder = ZORFLASH_LOCALE_DIR;
        const ssize_t length = readlink("/proc/self/exe", installed, PATH_MAX - 1);
        installed[length > 0 ? length : 0] = '\0';
        char* slash = std::strrchr(installed, '/');
        if (slash != nullptr) {
            std::memcpy(slash + 1, ZORFLASH_LOCALE_DIR_FROM_BIN, sizeof ZORFLASH_LOCALE_DIR_FROM_BIN);
            folder = installed;
        }
    }
    bindtextdomain(kTextDomain, folder);
    bind_textdomain_codeset(kTextDomain, "UTF-8");
}

// ---- The loop's side of the app ----------------------------------------------------------

gboolean OnTick(gpointer data);

void EndRun(GtkRun* run, int exitCode) {
    run->finished = true;
    run->exitCode = exitCode;
    if (run->tickSource != 0) g_source_remove(run->tickSource);
    run->tickSource = 0;
    gtk_view_close(&run->view);
    g_application_quit(G_APPLICATION(run->view.application));
}

// After every call into the app: ends the run when it is over, says why a close is refused,
// offers the family buttons while the app waits for the family, and keeps the tick going
// while the app wants it.
void Follow(GtkRun* run, const AppLoopNext& next) {
    if (run->finished) return;
    if (next.finished) {
        EndRun(run, next.exitCode);
        return;
    }
    if (next.closeRefused) gtk_view_show_close_refused(&run->view);
    gtk_view_follow(&run->view, next.updating, AppNeedsFamily(run->app));
    if (next.startTimer && run->tickSource == 0) {
        run->tickSource = g_timeout_add(kAppTickMs, OnTick, run);
    }
}

gboolean OnTick(gpointer data) {
    GtkRun* run = static_cast<GtkRun*>(data);
    const AppLoopNext next = AppLoopTick(&run->around);
    // This source ends with this call when ticks are no longer wanted.
    if (next.stopTimer || next.finished) run->tickSource = 0;
    Follow(run, next);
    return run->tickSource != 0 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

// After work the app handed to the loop (the worker's end).
void AfterLoopWork(void* owner) {
    GtkRun* run = static_cast<GtkRun*>(owner);
    Follow(run, AppLoopFollow(&run->around));
}

void OnAction(GtkButton*, gpointer data) {
    GtkRun* run = static_cast<GtkRun*>(data);
    Follow(run, AppLoopAct(&run->around, &run->view.model));
}

void OnExit(GtkButton*, gpointer data) {
    GtkRun* run = static_cast<GtkRun*>(data);
    Follow(run, AppLoopDismiss(&run->around, &run->view.model));
}

// The title bar's close, Alt-F4 or the session: refused while the sensor is being written,
// as the Windows dialog refuses it. The window is only ever taken down by EndRun.
gboolean OnCloseRequest(GtkWindow*, gpointer data) {
    GtkRun* run = static_cast<GtkRun*>(data);
    if (run->finished) return FALSE;
    Follow(run, AppLoopClose(&run->around, false));
    return TRUE;
}

// SIGTERM (logout, shutdown), SIGHUP (a closed terminal) and SIGINT (Ctrl-C): the window's
// close, refused while the sensor is being written, as the terminal edition refuses them.
// The request is kept: the run ends once the update has ended.
gboolean OnSignal(gpointer data) {
    GtkRun* run = static_cast<GtkRun*>(data);
    if (!run->finished) Follow(run, AppLoopClose(&run->around, true));
    return G_SOURCE_CONTINUE;
}

void OnActivate(AdwApplication* application, gpointer data) {
    GtkRun* run = static_cast<GtkRun*>(data);
    if (run->view.window != nullptr || run->finished) return;
    View* view = &run->view;
    gtk_view_build(view, application);
    view->afterLoopWork = AfterLoopWork;
    view->owner = run;
    g_signal_connect(gtk_view_part(view, "actionButton"), "clicked", G_CALLBACK(OnAction), run);
    g_signal_connect(gtk_view_part(view, "closeButton"), "clicked", G_CALLBACK(OnExit), run);
    g_signal_connect(view->window, "close-request", G_CALLBACK(OnCloseRequest), run);
    static const int kCloseSignals[] = {SIGTERM, SIGHUP, SIGINT};
    for (const int number : kCloseSignals) g_unix_signal_add(number, OnSignal, run);

    if (run->refusal[0] != '\0') {
        // Another instance runs (or the lock is unusable): said in the window, nothing sent.
        view_show_window(view, true);
        gtk_view_message(view, _("The pen firmware cannot be updated now"), run->refusal);
        EndRun(run, run->exitCode);
        return;
    }
    AppStart(run->app, view, run->program->launch, ProgramAppSettings(run->program));
    AppLoopStart(&run->around, run->app, false);
    // As the dialog's creation shows it: the window appears once the app has set it up.
    if (!AppFinished(run->app, nullptr)) view_show_window(view, true);
    Follow(run, AppLoopFollow(&run->around));
}

// The window's application, from its start to its end; returns the run's exit code.
int RunApplication(GtkRun* run) {
    StartTranslations();
    // Not unique on the session bus: the lock decides, so that a second start says why.
    AdwApplication* application = adw_application_new(kApplicationId, G_APPLICATION_NON_UNIQUE);
    g_signal_connect(application, "activate", G_CALLBACK(OnActivate), run);
    // The arguments are the program's own, already taken: GApplication gets none of them.
    char* programOnly[] = {run->programPath, nullptr};
    g_application_run(G_APPLICATION(application), 1, programOnly);
    g_object_unref(application);
    return run->exitCode;
}

// Answers, the JSON object and refusals are printed; a refusal is shown in the window as well
// when the run has one: started from a menu, nobody reads standard error.
bool Show(void* context, ProgramMessage kind, const char* text) {
    GtkRun* run = static_cast<GtkRun*>(context);
    if (kind == ProgramMessage::Refusal && run->windowWanted) {
        std::snprintf(run->refusal, sizeof run->refusal, "%s", text);
    }
    return false;
}

int RunWindow(void* context, ProgramState*, AppState* app, const char**) {
    GtkRun* run = static_cast<GtkRun*>(context);
    run->app = app;
    run->exitCode = kExitNotStarted;
    return RunApplication(run);
}

}  // namespace

int main(int argc, char** argv) {
    static ProgramState program;
    static GtkRun run;
    static AppState app;
    run.program = &program;
    run.programPath = argv[0];
    program.log = DiagnosticLog{OnNotice, &run.view};
    ProgramTakeArguments(&program, Edition{kEditionGtk, kProgramName}, argc, argv);
    // --help, --version and --info load nothing of GTK; the window itself is refused to root
    // before anything of GTK or GIO is loaded.
    run.windowWanted = program.options.outcome == LongOptionsOutcome::Run;
    if (run.windowWanted && geteuid() == 0) {
        std::fprintf(stderr, "%s\n", kRootRefusedText);
        return kExitUsage;
    }
    const int status = ProgramMain(&program, ProgramFace{&run, nullptr, Show, RunWindow}, &app);
    // A run that could not begin says why in its window too, once the line is printed.
    if (run.refusal[0] != '\0') RunApplication(&run);
    return status;
}
