#!/usr/bin/python3
"""End-to-end tests of rps: the game runs in an 80x25 pseudo-terminal, keys are typed with pauses
longer than a polling tick, and the screen is read back cell by cell through pyte, a terminal
emulator written independently of the game.

Usage: rps_e2e.py <path of rps> <case> [valgrind path]
       rps_e2e.py <path of rps> readme --write   (renews the README's picture of the screen)
       rps_e2e.py <guard test program> valgrind_guard <valgrind path>

Each case is one CTest test, so independent cases run in parallel. A case prints what it checked
and exits 0, or prints the first failed check with the screen as it stood and exits 1.
"""

import fcntl
import os
import re
import resource
import select
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

import pyte

COLUMNS = 80
ROWS = 25
KEY_PAUSE = 0.25  # longer than the 100 ms turn, so each key gets a turn of its own
HANG_GUARD = 20.0  # a generous bound that only catches a game that never gets there

TITLE = "Rock, Paper, Scissors"
QUIT_NOTE = "Press ESC to Quit."
CHOOSE = "Choose: 1 = Rock, 2 = Paper, 3 = Scissors"
RULES = "Rock defeats Scissors. Scissors defeats Paper. Paper defeats Rock."
THANKS = "Thanks for playing!"
HANDS = {1: "Rock", 2: "Paper", 3: "Scissors"}
ART = {
    1: ["    _______", "---'   ____)", "      (_____)", "      (_____)", "      (____)",
        "---.__(___)"],
    2: ["    ________", "---'    ____)___", "          ______)", "          _______)",
        "         _______)", "---.__________)"],
    3: ["    __________", "---'   ____)__)", "          ______)", "       __________)",
        "      (____)", "---.__(___)"],
}
MESSAGES = {0: "It's a tie!   ", 1: "You win!      ", -1: "Computer wins!"}
SCORE_MARK = b"Current score: Player "
ROUND_MARK = b"\x1b[6;5f"
TURN_MARK = b"\x1b[20;10f"


class CheckFailed(Exception):
    pass


# Every process a case starts, killed when the case ends however it ends, so that no game is
# left holding the test's output open.
SPAWNED = []


def kill_spawned():
    for pid in SPAWNED:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


def winner(player, computer):
    """The winner rule, written as a table rather than as the game's comparisons."""
    beats = {(1, 3), (2, 1), (3, 2)}
    if player == computer:
        return 0
    return 1 if (player, computer) in beats else -1


def padded(pieces):
    """An 80-column row from (column, text) pieces, columns counted from 1."""
    row = [" "] * COLUMNS
    for column, text in pieces:
        for i, char in enumerate(text):
            row[column - 1 + i] = char
    return "".join(row)


def title_rows():
    return [
        "┏" + "━" * 78 + "┓",
        padded([(1, "┃"), (3, TITLE), (61, QUIT_NOTE), (80, "┃")]),
        "┗" + "━" * 78 + "┛",
    ]


def child_signals_default():
    # The user's shell starts the game with the default actions; Python ignores some of them.
    for number in (signal.SIGINT, signal.SIGQUIT, signal.SIGTERM, signal.SIGHUP, signal.SIGTSTP,
                   signal.SIGTTIN, signal.SIGTTOU, signal.SIGPIPE, signal.SIGXFSZ, signal.SIGCONT,
                   signal.SIGWINCH):
        signal.signal(number, signal.SIG_DFL)


class Terminal:
    """A pseudo-terminal with a terminal emulator on its output side."""

    def __init__(self, columns=COLUMNS, rows=ROWS):
        self.master, self.slave = os.openpty()
        self.columns, self.rows = columns, rows
        fcntl.ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))
        # The user's ordinary mode: line editing, echo, signals from the keyboard.
        attrs = termios.tcgetattr(self.slave)
        attrs[3] |= termios.ICANON | termios.ECHO | termios.ISIG
        termios.tcsetattr(self.slave, termios.TCSANOW, attrs)
        self.user_attrs = termios.tcgetattr(self.slave)
        os.set_blocking(self.master, False)
        self.screen = pyte.Screen(columns, rows)
        self.stream = pyte.ByteStream(self.screen)
        self.raw = bytearray()
        self.stderr = tempfile.TemporaryFile()

    def pump(self, seconds):
        """Feeds everything the program writes during `seconds` to the emulator."""
        end = time.monotonic() + seconds
        while True:
            left = end - time.monotonic()
            ready, _, _ = select.select([self.master], [], [], max(left, 0))
            if ready:
                try:
                    chunk = os.read(self.master, 65536)
                except (BlockingIOError, OSError):
                    chunk = b""
                if chunk:
                    self.raw += chunk
                    self.stream.feed(chunk)
                    continue
            if left <= 0:
                return

    def type(self, keys, pause=KEY_PAUSE):
        os.write(self.master, keys)
        self.pump(pause)

    def resize(self, columns, rows):
        """Gives the window a new size, as a terminal window does when the user drags it: the
        emulator first, then the kernel, which signals the terminal's foreground process group."""
        self.pump(0.02)
        self.screen.resize(rows, columns)
        self.columns, self.rows = columns, rows
        fcntl.ioctl(self.master, termios.TIOCSWINSZ, struct.pack("HHHH", rows, columns, 0, 0))

    def row(self, number):
        """Row `number` (from 1) as wide as the window."""
        line = self.screen.buffer[number - 1]
        return "".join(line[column].data for column in range(self.columns))

    def rows_text(self):
        return [self.row(n) for n in range(1, self.rows + 1)]

    def cursor(self):
        """The cursor's (column, row), both counted from 1."""
        return self.screen.cursor.x + 1, self.screen.cursor.y + 1

    def cells(self, number, first, last):
        return self.row(number)[first - 1:last]

    def dump(self):
        return "\n".join("%2d|%s|" % (n, self.row(n)) for n in range(1, self.rows + 1))

    def attrs(self):
        return termios.tcgetattr(self.slave)

    def queued(self):
        """Bytes typed and not yet read by the program (the console mode has no lines)."""
        count = fcntl.ioctl(self.slave, termios.FIONREAD, b"\0\0\0\0")
        return struct.unpack("i", count)[0]

    def unread_input(self):
        """What a program reading the terminal next would get: a line end typed now, and
        whatever the game left unread in front of it."""
        os.write(self.master, b"\n")
        deadline = time.monotonic() + 2
        got = b""
        os.set_blocking(self.slave, False)
        while time.monotonic() < deadline and not got.endswith(b"\n"):
            ready, _, _ = select.select([self.slave], [], [], 0.05)
            if ready:
                try:
                    got += os.read(self.slave, 4096)
                except BlockingIOError:
                    pass
        os.set_blocking(self.slave, True)
        self.pump(0.05)  # the echo of the line end
        return got

    def stderr_text(self):
        self.stderr.seek(0)
        return self.stderr.read().decode("utf-8", "replace")


def game_environment(term="xterm"):
    """The environment a game runs in: the caller's, with a TERM that places the cursor unless a
    case asks for another, so that the tests do not depend on where they are run from."""
    environment = dict(os.environ)
    environment["TERM"] = term
    return environment


class Game:
    """rps started in its own session, the terminal being its controlling terminal.

    stdin: None for the terminal, "closed", or a path opened as standard input.
    ignored: signals the parent sets to be ignored before starting the game."""

    def __init__(self, rps, command=None, size=(COLUMNS, ROWS), term="xterm", stdin=None,
                 ignored=()):
        self.term = Terminal(*size)
        argv = command if command else [rps]
        environment = game_environment(term)
        self.pid = os.fork()
        if self.pid == 0:
            try:
                os.setsid()
                fcntl.ioctl(self.term.slave, termios.TIOCSCTTY, 0)
                os.dup2(self.term.slave, 0)
                os.dup2(self.term.slave, 1)
                os.dup2(self.term.stderr.fileno(), 2)
                if stdin == "closed":
                    os.close(0)
                elif stdin is not None:
                    os.dup2(os.open(stdin, os.O_RDONLY), 0)
                child_signals_default()
                for number in ignored:
                    signal.signal(number, signal.SIG_IGN)
                # Signals that dump core must not leave core files behind the tests.
                resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
                os.execve(argv[0], argv, environment)
            finally:
                os._exit(127)
        SPAWNED.append(self.pid)
        self.status = None

    def check(self, condition, message):
        if not condition:
            raise CheckFailed("%s\nscreen:\n%s\nstderr:\n%s" %
                              (message, self.term.dump(), self.term.stderr_text()))

    def wait_for(self, predicate, what, timeout=HANG_GUARD):
        end = time.monotonic() + timeout
        while not predicate():
            self.check(time.monotonic() < end, "timed out waiting for " + what)
            self.check(self.poll() is None, "the game ended while waiting for " + what)
            self.term.pump(0.02)

    def wait_taken(self):
        """Until the game has read what was typed: the bytes reach the terminal's queue a little
        after they are written and leave it at the game's next turn. A read too quick to be seen
        is over once a few turns have passed."""
        start = time.monotonic()
        seen = False
        while time.monotonic() - start < HANG_GUARD:
            waiting = self.term.queued()
            seen = seen or waiting > 0
            if waiting == 0 and (seen or time.monotonic() - start > 0.3):
                return
            self.term.pump(0.001)
        self.check(False, "the game did not read its key")

    def poll(self):
        if self.status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid == self.pid:
                self.status = status
        return self.status

    def wait_exit(self, timeout=HANG_GUARD):
        end = time.monotonic() + timeout
        while self.poll() is None:
            if time.monotonic() > end:
                os.kill(self.pid, signal.SIGKILL)
                os.waitpid(self.pid, 0)
                self.check(False, "the game did not end")
            self.term.pump(0.02)
        self.term.pump(0.1)
        return self.status

    def wait_ready(self):
        """Until the first turn has printed both instruction lines."""
        self.wait_for(lambda: RULES.encode() in self.term.raw, "the first turn")
        self.term.pump(0.05)

    def rounds_drawn(self):
        return self.term.raw.count(SCORE_MARK)

    def play(self, key):
        """Types a hand's key and waits for its round to be drawn to the end and the next turn
        to have printed its instruction lines again over the blanked play area."""
        before = self.rounds_drawn()
        os.write(self.term.master, key)
        self.wait_for(lambda: self.rounds_drawn() > before, "the round of key %r" % key)
        self.wait_next_turn()

    def wait_next_turn(self):
        def printed_after_round():
            raw = bytes(self.term.raw)
            return RULES.encode() in raw[raw.rfind(SCORE_MARK):]
        self.wait_for(printed_after_round, "the turn after a round")
        self.term.pump(0.02)

    def kill(self):
        if self.poll() is None:
            os.kill(self.pid, signal.SIGKILL)
            os.waitpid(self.pid, 0)


# ------------------------------------------------------------------------------------------------
# Checks of what the screen shows.

def check_title_bar(game):
    for number, expected in enumerate(title_rows(), start=1):
        game.check(game.term.row(number) == expected, "title bar row %d" % number)
    game.check(game.term.cells(1, 1, 1) == "┏" and game.term.cells(1, 80, 80) == "┓",
               "corners in columns 1 and 80")
    game.check(game.term.cells(2, 61, 78) == QUIT_NOTE, "the note ends in column 78")


def check_instructions(game):
    game.check(game.term.row(20) == padded([(10, CHOOSE)]), "row 20: the choices from column 10")
    game.check(game.term.row(22) == padded([(10, RULES)]), "row 22: the rules from column 10")


def check_title_screen_only(game):
    check_title_bar(game)
    check_instructions(game)
    for number in range(4, ROWS + 1):
        if number not in (20, 22):
            game.check(game.term.row(number).strip() == "",
                       "row %d must be blank before the first round" % number)


def check_round(game, player, scores):
    """The round on the screen; returns the computer's hand and updates `scores`."""
    term = game.term
    game.check(term.cells(6, 5, 4 + len(HANDS[player])) == HANDS[player],
               "row 6: the player's hand from column 5")
    computer_name = term.cells(6, 45, 80).strip()
    computer = {name: hand for hand, name in HANDS.items()}.get(computer_name)
    game.check(computer is not None, "row 6: a hand name from column 45, got %r" % computer_name)
    game.check(term.row(6) == padded([(5, HANDS[player]), (45, computer_name)]), "row 6 whole")
    for line in range(6):
        game.check(term.row(8 + line) == padded([(5, ART[player][line]), (45, ART[computer][line])]),
                   "art line %d in row %d" % (line + 1, 8 + line))
    result = winner(player, computer)
    if result == 1:
        scores[0] += 1
    elif result == -1:
        scores[1] += 1
    game.check(term.cells(18, 10, 23) == MESSAGES[result],
               "row 18 columns 10 to 23: %r for %s against %s" %
               (MESSAGES[result], HANDS[player], computer_name))
    score_line = "Current score: Player %d vs. CPU %d" % (scores[0], scores[1])
    game.check(term.row(18) == padded([(10, MESSAGES[result]), (25, score_line)]),
               "row 18: the running score %r from column 25" % score_line)
    check_title_bar(game)
    check_instructions(game)
    for number in (4, 5, 7, 14, 15, 16, 17, 19, 21, 23, 24, 25):
        game.check(term.row(number).strip() == "", "row %d blank during a round" % number)
    return computer


def check_closing(game, status):
    game.check(os.WIFEXITED(status), "the game must exit, wait status %d" % status)
    game.check(os.WEXITSTATUS(status) == 0, "exit status %d" % os.WEXITSTATUS(status))
    for number in range(1, ROWS + 1):
        if number != 22:
            game.check(game.term.row(number).strip() == "", "row %d blank at the end" % number)
    game.check(game.term.row(22) == padded([(56, THANKS)]), "row 22: the closing text in 56 to 74")
    game.check(game.term.cursor() == (1, 23),
               "the cursor at the start of the row below the text, at %r" % (game.term.cursor(),))
    game.check(game.term.attrs() == game.term.user_attrs, "the user's attributes are back")
    left = game.term.unread_input()
    game.check(left == b"\n", "input left unread for the shell: %r" % left)


def check_died_by(game, status, number):
    game.check(os.WIFSIGNALED(status) and os.WTERMSIG(status) == number,
               "the game must die by signal %d, wait status %d" % (number, status))
    game.check(game.term.attrs() == game.term.user_attrs, "the user's attributes are back")


# ------------------------------------------------------------------------------------------------
# The cases.

def case_title(rps):
    game = Game(rps)
    game.wait_ready()
    check_title_screen_only(game)
    # Two polling ticks more: the instruction lines are re-printed in place, nothing else comes.
    game.term.pump(0.3)
    check_title_screen_only(game)
    game.term.type(b"\x1b")
    check_closing(game, game.wait_exit())
    return "title screen, then ESC"


def case_rounds(rps):
    game = Game(rps)
    game.wait_ready()
    scores = [0, 0]
    for key in b"123312":
        game.play(bytes([key]))
        check_round(game, key - ord("0"), scores)
    game.term.type(b"\x1b")
    check_closing(game, game.wait_exit())
    return "six rounds, final score %d to %d" % tuple(scores)


def case_typeahead(rps):
    game = Game(rps)
    game.wait_ready()
    keys = b"231"
    os.write(game.term.master, keys)  # all at once, well within one turn
    game.wait_for(lambda: game.rounds_drawn() == len(keys), "three rounds")
    game.term.pump(0.3)
    game.check(game.rounds_drawn() == len(keys), "exactly one round per key")
    raw = bytes(game.term.raw)
    turns = raw.split(TURN_MARK)[1:]
    played = []
    for turn in turns:
        names = re.findall(rb"\x1b\[6;5f([A-Za-z]*)\x1b", turn)
        game.check(len(names) <= 1, "two rounds in one turn")
        played += [name.decode() for name in names]
    game.check(played == [HANDS[k - ord("0")] for k in keys],
               "rounds played in the order typed: %r" % played)
    round_turns = [i for i, turn in enumerate(turns) if ROUND_MARK in turn]
    game.check(round_turns == list(range(round_turns[0], round_turns[0] + len(keys))),
               "one round per turn, in consecutive turns: %r" % round_turns)
    # The running score after the three rounds, from the computer's hands as drawn.
    computers = [re.search(rb"\x1b\[6;45f([A-Za-z]*)\x1b", turns[i]).group(1).decode()
                 for i in round_turns]
    by_name = {name: hand for hand, name in HANDS.items()}
    scores = [0, 0]
    for key, name in zip(keys[:-1], computers[:-1]):
        result = winner(key - ord("0"), by_name[name])
        scores[0] += result == 1
        scores[1] += result == -1
    check_round(game, keys[-1] - ord("0"), scores)
    game.term.type(b"\x1b")
    check_closing(game, game.wait_exit())
    return "typed ahead %r, played %r" % (keys.decode(), played)


def case_ignored_keys(rps):
    game = Game(rps)
    game.wait_ready()
    for key in (b"4", b"a", b"\r", b" "):
        game.term.type(key)
        check_title_screen_only(game)
    game.play(b"\xc31")  # a character cut short, then a key of its own
    scores = [0, 0]
    check_round(game, 1, scores)
    shown = game.term.screen.display
    mark = len(game.term.raw)
    for key in (b"4", b"a", b"\r", b" "):
        game.term.type(key)
        game.check(game.term.screen.display == shown, "key %r changed the screen" % key)
    later = bytes(game.term.raw[mark:])
    game.check(ROUND_MARK not in later and b"\x1b[2J" not in later, "no round after other keys")
    game.check(later.count(TURN_MARK) >= 4, "the turns went on printing the instruction lines")
    game.term.type(b"\x1b")
    check_closing(game, game.wait_exit())
    return "4, a, Enter and space changed nothing"


def case_esc(rps):
    game = Game(rps)
    game.wait_ready()
    game.play(b"3")
    check_round(game, 3, [0, 0])
    os.write(game.term.master, b"\x1b")
    # As soon as the game has taken ESC from the terminal, keys typed during its last pause wait
    # in the terminal: they must not reach the shell that gets the terminal back, not even a paste
    # longer than the terminal's line buffer (4 KB), of which bytes still wait behind it.
    game.wait_taken()
    os.write(game.term.master, b"echo pasted\n" * 1024)
    check_closing(game, game.wait_exit())
    return "ESC after a round: closing screen, status 0, attributes and input as before"


def case_arrow(rps):
    game = Game(rps)
    game.wait_ready()
    game.term.type(b"\x1b[A", pause=0)
    check_closing(game, game.wait_exit())
    return "an arrow key ends the game; its '[A' never reaches the shell"


def signal_case(rps, send, number):
    game = Game(rps)
    game.wait_ready()
    game.play(b"1")
    game.check(game.term.attrs() != game.term.user_attrs, "the console mode is in force")
    send(game)
    check_died_by(game, game.wait_exit(), number)
    return game


def case_ctrl_c(rps):
    signal_case(rps, lambda game: os.write(game.term.master, b"\x03"), signal.SIGINT)
    return "Ctrl-C: died by SIGINT, attributes as before"


def case_sigterm(rps):
    def typed_ahead_then_kill(game):
        os.write(game.term.master, b"echo typed ahead\n")
        os.kill(game.pid, signal.SIGTERM)
    game = signal_case(rps, typed_ahead_then_kill, signal.SIGTERM)
    left = game.term.unread_input()
    game.check(left == b"\n", "keys typed ahead reach the shell after SIGTERM: %r" % left)
    return "SIGTERM: died by it, attributes as before, typed-ahead keys discarded"


def case_sighup(rps):
    signal_case(rps, lambda game: os.kill(game.pid, signal.SIGHUP), signal.SIGHUP)
    return "SIGHUP: died by it, attributes as before"


# A small job-control shell: it leads the session, runs the game as a job in a process group of
# its own in the foreground, takes the terminal back when the job stops and gives it to the job
# again on "fg". The test talks to it over two pipes. Without such a shell the game's process
# group would be orphaned, and the kernel drops Ctrl-Z for orphaned groups.
def job_shell(rps, term, commands, events):
    os.setsid()
    fcntl.ioctl(term.slave, termios.TIOCSCTTY, 0)
    job = os.fork()
    if job == 0:
        try:
            os.setpgid(0, 0)
            signal.signal(signal.SIGTTOU, signal.SIG_IGN)
            os.tcsetpgrp(term.slave, os.getpid())
            os.dup2(term.slave, 0)
            os.dup2(term.slave, 1)
            os.dup2(term.stderr.fileno(), 2)
            child_signals_default()
            os.execve(rps, [rps], game_environment())
        finally:
            os._exit(127)
    os.write(events, b"job %d\n" % job)
    try:
        os.setpgid(job, job)
    except OSError:
        pass  # the job has set it itself already
    signal.signal(signal.SIGTTOU, signal.SIG_IGN)
    signal.signal(signal.SIGTSTP, signal.SIG_IGN)
    while True:
        _, status = os.waitpid(job, os.WUNTRACED | os.WCONTINUED)
        if os.WIFSTOPPED(status):
            os.tcsetpgrp(term.slave, os.getpgrp())
            os.write(events, b"stopped %d\n" % os.WSTOPSIG(status))
            command = os.read(commands, 16)
            if command.startswith(b"fg"):
                os.tcsetpgrp(term.slave, job)
                os.killpg(job, signal.SIGCONT)
            elif command.startswith(b"kill"):  # as kill %1 does: continued, so that it can die
                os.killpg(job, signal.SIGTERM)
                os.killpg(job, signal.SIGCONT)
        elif os.WIFCONTINUED(status):
            os.write(events, b"continued\n")
        else:
            code = os.WEXITSTATUS(status) if os.WIFEXITED(status) else -os.WTERMSIG(status)
            os.write(events, b"ended %d\n" % code)
            os._exit(0)


class JobGame(Game):
    """The game as a job of job_shell."""

    def __init__(self, rps):  # pylint: disable=super-init-not-called
        self.term = Terminal()
        commands_r, self.commands = os.pipe()
        self.events, events_w = os.pipe()
        self.pid = os.fork()
        if self.pid == 0:
            try:
                os.close(self.commands)
                os.close(self.events)
                job_shell(rps, self.term, commands_r, events_w)
            finally:
                os._exit(127)
        os.close(commands_r)
        os.close(events_w)
        SPAWNED.append(self.pid)
        self.status = None
        job = self.event()
        SPAWNED.append(int(job.split()[1]))

    def event(self, timeout=HANG_GUARD):
        end = time.monotonic() + timeout
        line = b""
        while not line.endswith(b"\n"):
            self.check(time.monotonic() < end, "no word from the job shell")
            ready, _, _ = select.select([self.events], [], [], 0.02)
            if ready:
                byte = os.read(self.events, 1)
                self.check(byte != b"", "the job shell went away")
                line += byte
            self.term.pump(0)
        return line.decode().strip()


def case_suspend(rps):
    game = JobGame(rps)
    game.wait_ready()
    scores = [0, 0]
    game.play(b"1")
    check_round(game, 1, scores)
    console_attrs = game.term.attrs()
    game.check(not console_attrs[3] & (termios.ICANON | termios.ECHO), "the console mode is on")
    os.write(game.term.master, b"\x1a")  # Ctrl-Z
    stopped = game.event()
    game.check(stopped == "stopped %d" % signal.SIGTSTP, "the game stops on Ctrl-Z: %r" % stopped)
    game.check(game.term.attrs() == game.term.user_attrs,
               "while stopped the user's attributes are in force")
    game.term.pump(0.3)
    os.write(game.commands, b"fg\n")
    game.check(game.event() == "continued", "the game continues after fg")
    # The game applies its mode again as it continues; until its handler has run, the terminal
    # is still in the user's mode, as it is for any program resumed by a shell.
    game.wait_for(lambda: not game.term.attrs()[3] & (termios.ICANON | termios.ECHO),
                  "the console mode to be applied again")
    # Keys typed now must be read one at a time, without a line end and without echo. An echoed
    # "x" (a letter no text of the game holds) would appear in the output.
    mark = len(game.term.raw)
    rounds = game.rounds_drawn()
    os.write(game.term.master, b"x")
    os.write(game.term.master, b"2")
    game.wait_for(lambda: game.rounds_drawn() > rounds, "the round of a key typed after fg")
    game.term.pump(0.25)
    game.check(not game.term.attrs()[3] & (termios.ICANON | termios.ECHO),
               "the console mode is applied again")
    game.check(b"x" not in bytes(game.term.raw[mark:]), "a key was echoed after fg")
    check_round(game, 2, scores)
    # Stopped again, the game ends at once when the shell kills it, from the background.
    os.write(game.term.master, b"\x1a")
    game.check(game.event() == "stopped %d" % signal.SIGTSTP, "the game stops on Ctrl-Z again")
    os.write(game.commands, b"kill\n")
    ended = game.event(timeout=1.0)
    ended = game.event(timeout=1.0) if ended == "continued" else ended
    game.check(ended == "ended -%d" % signal.SIGTERM, "kill %%1 of the stopped game: %r" % ended)
    game.term.pump(0.1)
    game.check(game.term.attrs() == game.term.user_attrs, "the user's attributes are back")
    os.waitpid(game.pid, 0)
    return "Ctrl-Z gives the terminal back; after fg a key is read at once; kill %1 ends it at once"


# What a shell and the commands run while the game is stopped leave on the screen: they write
# anywhere, clear it, and scroll it.
JUNK = (b"\r\n[1]+  Stopped                 rps\r\n$ ls\r\nCMakeLists.txt  README.md  game\r\n"
        b"\x1b[2;5Hjunk over the title\x1b[12;30Hjunk over the hands\x1b[25;1H" +
        b"scrolled\r\n" * 4 + b"$ fg\r\nrps\r\n")

REDRAW_BOUND = 1.0  # seconds from the event to the whole screen drawn again


def wait_screen(game, expected, what, since, bound=REDRAW_BOUND):
    """Until the screen shows `expected` (its rows); fails when that takes longer than `bound`
    seconds from `since`."""
    def shown():
        return game.term.rows_text() == expected
    game.wait_for(shown, what, timeout=bound + 2)
    took = time.monotonic() - since
    game.check(took <= bound, "%s took %.2f s, more than %.1f s" % (what, took, bound))
    return took


def case_suspend_redraw(rps):
    game = JobGame(rps)
    game.wait_ready()
    scores = [0, 0]
    game.play(b"2")
    check_round(game, 2, scores)
    before = game.term.rows_text()
    os.write(game.term.master, b"\x1a")  # Ctrl-Z
    stopped = game.event()
    game.check(stopped == "stopped %d" % signal.SIGTSTP, "the game stops on Ctrl-Z: %r" % stopped)
    os.write(game.term.slave, JUNK)
    game.term.pump(0.2)
    game.check(game.term.rows_text() != before, "the junk changed the screen")
    os.write(game.commands, b"fg\n")
    resumed = time.monotonic()
    game.check(game.event() == "continued", "the game continues after fg")
    took = wait_screen(game, before, "the screen as it stood before Ctrl-Z", resumed)
    # Still playing, with the score kept.
    game.play(b"3")
    check_round(game, 3, scores)
    os.write(game.term.master, b"\x1b")
    game.check(game.event() == "ended 0", "the game ends with status 0 after ESC")
    os.waitpid(game.pid, 0)
    return "Ctrl-Z, junk, fg: the screen as before within %.2f s" % took


def check_request(game, columns):
    """The one-line request for a larger window, alone on the screen, fitting the width."""
    long_text = "Please make the window at least 80 x 25."
    text = long_text if columns >= len(long_text) else "Needs 80 x 25"[:columns]
    expected = [text.ljust(columns)] + [" " * columns] * (game.term.rows - 1)
    game.check(game.term.rows_text() == expected,
               "the request %r alone on a %d-column screen" % (text, columns))
    return text


def case_resize(rps):
    game = Game(rps)
    game.wait_ready()
    scores = [0, 0]
    game.play(b"1")
    check_round(game, 1, scores)
    game.play(b"2")
    check_round(game, 2, scores)
    before = game.term.rows_text()
    rounds = game.rounds_drawn()
    game.term.resize(60, 20)
    since = time.monotonic()
    game.wait_for(lambda: b"80 x 25" in bytes(game.term.raw[-200:]) and
                  game.term.row(1).startswith("Please"), "the request for 80 x 25")
    game.term.pump(0.25)
    check_request(game, 60)
    game.check(time.monotonic() - since <= REDRAW_BOUND + 0.3, "the request came late")
    # Keys other than ESC are dropped while the window is small.
    quiet = game.term.rows_text()
    game.term.type(b"1")
    game.term.type(b"a")
    game.check(game.rounds_drawn() == rounds, "a round was played in a small window")
    game.check(game.term.rows_text() == quiet, "a key changed the small window's screen")
    game.term.resize(COLUMNS, ROWS)
    took = wait_screen(game, before, "the screen as it stood before the shrink", time.monotonic())
    game.play(b"3")
    check_round(game, 3, scores)
    game.term.type(b"\x1b")
    check_closing(game, game.wait_exit())
    return "60x20 and back: the same screen within %.2f s, score %d to %d kept" % (
        took, scores[0], scores[1])


def case_small_start(rps):
    game = Game(rps, size=(40, 10))
    game.wait_for(lambda: b"80 x 25" in game.term.raw, "the request for 80 x 25")
    game.term.pump(0.3)
    text = check_request(game, 40)
    game.check("80 x 25" in text, "the request mentions 80 x 25")
    game.check(RULES.encode() not in game.term.raw, "the layout was drawn in a small window")
    for key in (b"1", b"2", b"\r"):
        game.term.type(key)
    game.check(game.rounds_drawn() == 0, "a round was played in a small window")
    check_request(game, 40)
    game.term.resize(COLUMNS, ROWS)
    game.wait_for(lambda: game.term.row(22) == padded([(10, RULES)]), "the title screen")
    game.term.pump(0.05)
    check_title_screen_only(game)
    scores = [0, 0]
    game.play(b"1")
    check_round(game, 1, scores)
    game.term.type(b"\x1b")
    check_closing(game, game.wait_exit())
    # A window narrower than the request: the short request, cut to the width; ESC ends the game
    # with the closing text where it fits and the cursor on the row below.
    narrow = Game(rps, size=(12, 6))
    narrow.wait_for(lambda: b"80 x" in narrow.term.raw, "the short request")
    narrow.term.pump(0.3)
    check_request(narrow, 12)
    narrow.term.type(b"\x1b")
    status = narrow.wait_exit()
    narrow.check(os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0, "ESC ends a small game")
    narrow.check(narrow.term.row(1) == THANKS[:12], "the closing text fitted to 12 columns")
    narrow.check(narrow.term.cursor() == (1, 2), "the cursor below the closing text")
    return "40x10: request, no round, the title screen once 80x25; 12x6: the short request"


def ending_signals():
    """Every signal whose default action ends the process, by signal(7), written out here rather
    than taken from the game's table."""
    names = ["SIGHUP", "SIGINT", "SIGQUIT", "SIGILL", "SIGTRAP", "SIGABRT", "SIGBUS", "SIGFPE",
             "SIGUSR1", "SIGSEGV", "SIGUSR2", "SIGPIPE", "SIGALRM", "SIGTERM", "SIGSTKFLT",
             "SIGXCPU", "SIGXFSZ", "SIGVTALRM", "SIGPROF", "SIGIO", "SIGPWR", "SIGSYS"]
    numbers = [getattr(signal, name) for name in names if hasattr(signal, name)]
    return numbers + [signal.SIGRTMIN, signal.SIGRTMIN + 1, signal.SIGRTMAX]


def case_signals(rps):
    for number in ending_signals():
        game = Game(rps)
        game.wait_ready()
        game.check(game.term.attrs() != game.term.user_attrs, "the console mode is in force")
        os.kill(game.pid, number)
        status = game.wait_exit()
        # A sanitized build hands a crash signal on to the sanitizer, which reports and exits.
        reported = "Sanitizer" in game.term.stderr_text() and os.WIFEXITED(status)
        game.check((os.WIFSIGNALED(status) and os.WTERMSIG(status) == number) or reported,
                   "signal %d: the game must die by it, wait status %d" % (number, status))
        game.check(game.term.attrs() == game.term.user_attrs,
                   "signal %d: the user's attributes are back" % number)
        game.kill()
    # A signal the parent ignores stays ignored: the game plays on and ends as always.
    game = Game(rps, ignored=(signal.SIGHUP, signal.SIGUSR1))
    game.wait_ready()
    os.kill(game.pid, signal.SIGHUP)
    os.kill(game.pid, signal.SIGUSR1)
    scores = [0, 0]
    game.play(b"1")
    check_round(game, 1, scores)
    game.term.type(b"\x1b")
    check_closing(game, game.wait_exit())
    return "%d ending signals: died by each, attributes as before; ignored ones stay ignored" % (
        len(ending_signals()))


def unreadable_input_case(rps, stdin):
    game = Game(rps, stdin=stdin)
    started = time.monotonic()
    status = game.wait_exit(timeout=10)
    took = time.monotonic() - started
    game.check(os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0,
               "exit status 0, wait status %d" % status)
    game.check(took <= 3.0, "the game ended after %.2f s, not within 3 s" % took)
    game.check(game.term.row(22) == padded([(56, THANKS)]), "the closing screen")
    game.check(game.term.cursor() == (1, 23), "the cursor below the closing text")
    game.check(game.term.attrs() == game.term.user_attrs, "the terminal's attributes unchanged")
    return took


def case_stdin_closed(rps):
    took = unreadable_input_case(rps, "closed")
    return "standard input closed: closing screen, status 0 after %.2f s" % took


def case_stdin_folder(rps):
    took = unreadable_input_case(rps, os.path.dirname(os.path.abspath(__file__)))
    return "standard input a folder: closing screen, status 0 after %.2f s" % took


def case_term_dumb(rps):
    game = Game(rps, term="dumb")
    # Typed before the game starts: a terminal left untouched still holds it for the shell.
    os.write(game.term.master, b"ahead")
    status = game.wait_exit()
    game.check(os.WIFEXITED(status) and os.WEXITSTATUS(status) == 1,
               "exit status 1, wait status %d" % status)
    errors = game.term.stderr_text()
    game.check(errors.count("\n") == 1 and "place the cursor" in errors,
               "one line on standard error: %r" % errors)
    game.check(b"\x1b" not in game.term.raw, "an ESC byte was written: %r" % bytes(game.term.raw))
    game.check(bytes(game.term.raw) in (b"", b"ahead"),
               "nothing but the echo of the typed keys: %r" % bytes(game.term.raw))
    game.check(game.term.attrs() == game.term.user_attrs, "the terminal's attributes unchanged")
    left = game.term.unread_input()
    game.check(left == b"ahead\n", "the keys typed ahead are still there: %r" % left)
    return "TERM=dumb: one line on standard error, status 1, the terminal untouched"


README = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                      "README.md")
README_MARK = "<!-- screen captured by tests/e2e/rps_e2e.py (case readme) -->"
README_HANDS = (1, 3)  # the picture: the player's rock against the computer's scissors


def readme_block(text):
    """The README's picture: the lines of the fenced block after the mark, and where they are."""
    lines = text.split("\n")
    start = lines.index(README_MARK) + 2  # the mark, then the opening fence
    end = lines.index("```", start)
    return lines[start:end], start, end


def captured_picture(rps):
    """The screen after one round of README_HANDS, each row without its trailing blanks. The
    computer's hand is random: new games are started until it is the one wanted."""
    player, computer = README_HANDS
    for _ in range(60):
        game = Game(rps)
        game.wait_ready()
        game.play(str(player).encode())
        if game.term.cells(6, 45, 80).strip() == HANDS[computer]:
            check_round(game, player, [0, 0])
            rows = [row.rstrip() for row in game.term.rows_text()]
            game.term.type(b"\x1b")
            check_closing(game, game.wait_exit())
            return rows
        game.kill()
    raise CheckFailed("the computer never drew %s in 60 games" % HANDS[computer])


def case_readme(rps, *options):
    picture = captured_picture(rps)
    with open(README, encoding="utf-8") as readme:
        text = readme.read()
    shown, start, end = readme_block(text)
    if "--write" in options:
        lines = text.split("\n")
        lines[start:end] = picture
        with open(README, "w", encoding="utf-8") as readme:
            readme.write("\n".join(lines))
        return "README picture written"
    if shown != picture:
        raise CheckFailed("the README's picture differs from a fresh capture:\n%s\nrun "
                          "`rps_e2e.py <rps> readme --write` to renew it" %
                          "\n".join("%2d|%s|" % (n, row) for n, row in enumerate(picture, 1)))
    return "the README's picture equals a fresh capture, row for row"


def run_with_input(rps, stdin, feed=None):
    """rps with its standard input and output not a terminal; returns (status, output, seconds
    from the input's end to the exit)."""
    process = subprocess.Popen([rps], stdin=stdin, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, restore_signals=True,
                               env=game_environment())
    os.set_blocking(process.stdout.fileno(), False)
    output = bytearray()

    def read_until(predicate):
        end = time.monotonic() + HANG_GUARD
        while not predicate() and time.monotonic() < end and process.poll() is None:
            ready, _, _ = select.select([process.stdout], [], [], 0.02)
            if ready:
                output.extend(process.stdout.read() or b"")
        output.extend(process.stdout.read() or b"")

    read_until(lambda: RULES.encode() in output)
    if feed is not None:
        feed(process, output, read_until)
    ended_input = time.monotonic()
    try:
        status = process.wait(timeout=HANG_GUARD)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        raise CheckFailed("the game kept running after its input ended")
    seconds = time.monotonic() - ended_input
    read_until(lambda: False)
    errors = process.stderr.read().decode("utf-8", "replace")
    return status, bytes(output), seconds, errors


def check_ended_with_input(status, output, seconds, errors):
    if status != 0:
        raise CheckFailed("exit status %d; stderr:\n%s" % (status, errors))
    if not output.endswith(b"\x1b[2J\x1b[22;56f" + THANKS.encode() + b"\x1b[23;1f"):
        raise CheckFailed("no closing screen at the end of %r" % output[-200:])
    if seconds > 1.0:
        raise CheckFailed("the game ended %.2f s after its input's end, not within a second"
                          % seconds)


def case_pipe_input(rps):
    def feed(process, output, read_until):
        process.stdin.write(b"1")
        process.stdin.flush()
        read_until(lambda: SCORE_MARK in output)
        process.stdin.close()

    status, output, seconds, errors = run_with_input(rps, subprocess.PIPE, feed)
    check_ended_with_input(status, output, seconds, errors)
    if output.count(SCORE_MARK) != 1:
        raise CheckFailed("the key from the pipe was not played once")
    return "a pipe's end ends the game in %.2f s, status 0" % seconds


def case_empty_file(rps):
    with tempfile.TemporaryFile() as empty:
        status, output, seconds, errors = run_with_input(rps, empty)
    check_ended_with_input(status, output, seconds, errors)
    if SCORE_MARK in output:
        raise CheckFailed("a round from an empty file")
    return "an empty file ends the game in %.2f s, status 0" % seconds


VALGRIND = ["--error-exitcode=1", "--leak-check=full", "--show-leak-kinds=all",
            "--errors-for-leak-kinds=definite", "--track-fds=no"]


def runtime_blocks_left(report):
    """The loss records of a valgrind report whose allocation ran through the runtime (zn::)."""
    return [record.strip() for record in re.split(r"\n==\d+== *\n", report)
            if re.search(r"in loss record \d+ of \d+", record) and "zn::" in record]


def case_valgrind_guard(program, valgrind):
    """Not the game: the guard's test program, two RuntimeGuards one after the other."""
    run = subprocess.run([valgrind] + VALGRIND + [program, "again"], stdin=subprocess.DEVNULL,
                         capture_output=True, text=True, timeout=600, check=False)
    left = runtime_blocks_left(run.stderr)
    if (run.returncode != 0 or run.stdout != "again: ok\n" or left
            or "ERROR SUMMARY: 0 errors" not in run.stderr):
        raise CheckFailed("status %d, output %r; blocks of the runtime left:\n%s"
                          % (run.returncode, run.stdout, "\n\n".join(left)))
    return "two guards under valgrind: no error, nothing of the runtime left"


def case_valgrind(rps, valgrind):
    command = [valgrind] + VALGRIND + [rps]
    game = Game(rps, command)
    game.wait_ready()
    for key in (b"1", b"2", b"3"):
        game.play(key)
    game.term.type(b"\x1b")
    status = game.wait_exit(timeout=60)
    report = game.term.stderr_text()
    game.check(os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0,
               "valgrind reports errors or definite leaks (wait status %d)" % status)
    game.check("ERROR SUMMARY: 0 errors" in report, "valgrind's summary")
    # Every block the program still holds at the exit must be reachable from its start: a block
    # reached only through a pointer into its middle (as an array was, through its header) is a
    # leak valgrind can only call "possible".
    for kind in ("definitely", "indirectly", "possibly"):
        lost = re.search(kind + r" lost: ([\d,]+) bytes", report)
        game.check(lost is None or lost.group(1) == "0", "%s lost: %s" % (kind, lost))
    left = runtime_blocks_left(report)
    game.check(not left, "the end left blocks of the runtime:\n" + "\n\n".join(left))
    return "a session under valgrind: no error, nothing lost, nothing of the runtime left"


CASES = {name[len("case_"):]: function for name, function in globals().items()
         if name.startswith("case_")}


def main():
    if len(sys.argv) < 3 or sys.argv[2] not in CASES:
        print("usage: rps_e2e.py <rps> <%s> [valgrind]" % "|".join(sorted(CASES)))
        return 2
    rps, case = sys.argv[1], sys.argv[2]
    try:
        summary = CASES[case](rps, *sys.argv[3:])
    except CheckFailed as failure:
        print("FAILED %s: %s" % (case, failure))
        return 1
    finally:
        kill_spawned()
    print("ok %s: %s" % (case, summary))
    return 0


if __name__ == "__main__":
    sys.exit(main())
