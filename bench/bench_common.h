// What every benchmark needs: a reference program run as a child (its time, processor
// time and peak memory) and the median of a few runs.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

struct ChildRun {
    double seconds = 0; // wall clock
    double cpu = 0;     // user + system: a machine shared with other work disturbs it less
    long maxRssKb = 0;
};

inline ChildRun runChild(const std::vector<std::string>& argv)
{
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    QElapsedTimer t;
    t.start();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    rusage u{};
    wait4(pid, &status, 0, &u);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "%s failed\n", argv[0].c_str());
    ChildRun run;
    run.seconds = t.nsecsElapsed() / 1e9;
    run.cpu = u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    run.maxRssKb = u.ru_maxrss;
    return run;
}

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Waited {
    double seconds = 0;       // the command, and the window's follow-up to it
    double longestFreeze = 0; // the longest the window went without handling its events
};

// Runs `work` as a user waits for it: a timer fires whenever the window gets to handle
// events, and the longest gap between firings is the longest it stood frozen. What the
// window does after the command (redrawing what changed) is counted in.
inline Waited timedWithFreeze(const std::function<void()>& work)
{
    double longest = 0;
    QElapsedTimer sinceTick, all;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.nsecsElapsed() / 1e9);
        sinceTick.restart();
    });
    all.start();
    sinceTick.start();
    ticker.start();
    work();
    QCoreApplication::processEvents();
    longest = std::max(longest, sinceTick.nsecsElapsed() / 1e9);
    return {all.nsecsElapsed() / 1e9, longest};
}
