"""The table of end-to-end scenarios: each is a function that drives a freshly built sandbox."""

from dataclasses import dataclass, field
from typing import Callable

from sandbox import PROGRAMS


@dataclass(frozen=True)
class Scenario:
    name: str
    run: Callable
    seconds: int                     # how long it takes when all goes well
    programs: tuple = PROGRAMS       # the built programs it needs
    setup: dict = field(default_factory=dict)
    report: bool = True              # print the log and records at the end even when it passes

    @property
    def limit(self):
        """Seconds after which the scenario is failed from inside, before CTest's own timeout."""
        return self.seconds * 2 + 60


SCENARIOS = {}


def scenario(seconds, programs=PROGRAMS, report=True, **setup):
    def register(function):
        SCENARIOS[function.__name__] = Scenario(function.__name__, function, seconds, tuple(programs), setup,
                                                report)
        return function
    return register
