"""Velkit and Tarnet in the applications people write in, beside the project's
own GTK compose window in the same run.

For each application: Tarnet's delay from the launch to its first focus report
for that application (Tarnet runs throughout), then the median wall time of
`velkit get-focused`, `velkit get-context`, and `velkit write-text` of a
sentence and of 1,000 characters (each write read back before it answers),
with the ratio to the compose window's figure.
"""
import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

from bench import Desktop, Lines

RUNS = 10
LONG_RUNS = 3
SENTENCE = "Please send the quarterly report to Margaret before Friday."
PAGE = """<!doctype html><html><head><title>Notes</title></head><body>
<textarea id="notes" aria-label="notes" autofocus>Old notes</textarea></body></html>"""


def median_ms(desktop, velkit, args, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        result = subprocess.run([velkit] + args, env=desktop.env, capture_output=True, text=True)
        times.append((time.perf_counter() - start) * 1000)
        if "error" in result.stdout:
            print(f"velkit {args[0]}: {result.stdout.strip()}", file=sys.stderr)
            return None
    return round(statistics.median(times), 1)


def applications(work):
    page = os.path.join(work, "notes.html")
    with open(page, "w") as out:
        out.write(PAGE)
    profile = os.path.join(work, "firefox")
    os.makedirs(profile)
    with open(os.path.join(profile, "user.js"), "w") as out:
        out.write('user_pref("browser.aboutwelcome.enabled", false);\n'
                  'user_pref("browser.startup.homepage_override.mstone", "ignore");\n'
                  'user_pref("datareporting.policy.dataSubmissionEnabled", false);\n'
                  'user_pref("browser.shell.checkDefaultBrowser", false);\n')
    settings = {"XDG_CONFIG_HOME": work, "GSETTINGS_BACKEND": "memory"}
    return [
        ("mousepad", ["mousepad", "--disable-server"], settings),
        ("featherpad", ["featherpad"], dict(settings, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                                              QT_ACCESSIBILITY="1")),
        ("libreoffice", ["soffice", "--writer", "--norestore", "--nologo",
                         "-env:UserInstallation=file://" + os.path.join(work, "office")],
         {"SAL_USE_VCLPLUGIN": "gtk3"}),
        ("chromium", ["chromium", "--no-sandbox", "--force-renderer-accessibility",
                      "--user-data-dir=" + os.path.join(work, "chromium"), "--no-first-run",
                      "--disable-gpu", "file://" + page], {"ACCESSIBILITY_ENABLED": "1"}),
        ("firefox", ["firefox-esr", "--no-remote", "--profile", profile, "file://" + page],
         {"GNOME_ACCESSIBILITY": "1"}),
    ]


def in_group(pid, group):
    try:
        return os.getpgid(pid) == group
    except (ProcessLookupError, TypeError):
        return False


def command_figures(desktop, velkit):
    return {
        "get_focused_ms": median_ms(desktop, velkit, ["get-focused"], RUNS),
        "get_context_ms": median_ms(desktop, velkit, ["get-context"], RUNS),
        "write_sentence_ms": median_ms(desktop, velkit, ["write-text", SENTENCE], RUNS),
        "write_1000_ms": median_ms(desktop, velkit, ["write-text", "x" * 1000], LONG_RUNS),
    }


def wait_for_text_field(desktop, velkit, deadline=30):
    until = time.time() + deadline
    while time.time() < until:
        out = subprocess.run([velkit, "get-focused"], env=desktop.env, capture_output=True,
                             text=True).stdout
        if '"AXTextArea"' in out or '"AXTextField"' in out:
            return True
        time.sleep(0.2)
    return False


def main():
    build = sys.argv[1]
    velkit = os.path.join(build, "native", "source", "velkit", "velkit")
    tarnet = os.path.join(build, "native", "source", "tarnet", "tarnet")
    desktop = Desktop()
    work = tempfile.mkdtemp(prefix="nolari-bench-apps-")
    rows = {}
    try:
        composer, _ = desktop.composer("body")
        wait_for_text_field(desktop, velkit)
        rows["compose window"] = command_figures(desktop, velkit)
        observer = subprocess.Popen([tarnet], env=desktop.env, stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL, text=True)
        reports = Lines(observer)
        for name, command, env in applications(work):
            launched = time.perf_counter()
            app = subprocess.Popen(command, env=dict(desktop.env, **env), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
            try:
                reports.next(lambda line: line.get("type") == "focus_info"
                             and in_group(line.get("pid"), app.pid), timeout=60)
                row = {"tarnet_launch_to_report_ms": round((time.perf_counter() - launched) * 1000)}
                if wait_for_text_field(desktop, velkit):
                    row.update(command_figures(desktop, velkit))
                rows[name] = row
            finally:
                os.killpg(app.pid, signal.SIGTERM)
                app.wait(timeout=10)
        observer.send_signal(signal.SIGTERM)
        observer.wait(timeout=5)
        composer.send_signal(signal.SIGTERM)
    finally:
        desktop.stop()
        subprocess.run(["rm", "-rf", work])
    base = rows["compose window"]
    for name, row in rows.items():
        for key in list(row):
            if key in base and row[key] and base[key] and name != "compose window":
                row[key.replace("_ms", "_x_compose")] = round(row[key] / base[key], 2)
    print(json.dumps(rows, indent=1))


if __name__ == "__main__":
    main()
