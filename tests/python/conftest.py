"""Recordings for the Python package's tests, written by the project's own
writer (the vokgen program of the build named by VOKAPI_TEST_VOKGEN)."""

import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "python"))


def _tool(variable):
    path = os.environ.get(variable)
    if not path or not os.path.exists(path):
        pytest.skip(f"{variable} does not name the built program")
    return path


@pytest.fixture(scope="session")
def vokgen():
    return _tool("VOKAPI_TEST_VOKGEN")


@pytest.fixture(scope="session")
def layout_dump():
    return _tool("VOKAPI_TEST_LAYOUT")


@pytest.fixture(scope="session")
def workdir(tmp_path_factory):
    return tmp_path_factory.mktemp("recordings")


class Recordings:
    def __init__(self, vokgen, folder):
        self.vokgen = vokgen
        self.folder = folder
        self.made = {}

    def generate(self, name, *options):
        """vokgen generate NAME.vok with the options given; the same call
        gives the same file."""
        key = (name, options)
        if key not in self.made:
            path = os.path.join(self.folder, name + ".vok")
            subprocess.run([self.vokgen, "generate", path, *options], check=True, capture_output=True)
            self.made[key] = path
        return self.made[key]

    def demo(self):
        if "demo" not in self.made:
            path = os.path.join(self.folder, "demo.vok")
            subprocess.run([self.vokgen, "demo", path], check=True, capture_output=True)
            self.made["demo"] = path
        return self.made["demo"]

    def cases(self):
        if "cases" not in self.made:
            folder = os.path.join(self.folder, "cases")
            subprocess.run([self.vokgen, "cases", folder], check=True, capture_output=True)
            self.made["cases"] = sorted(os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(".vok"))
        return self.made["cases"]


@pytest.fixture(scope="session")
def recordings(vokgen, workdir):
    return Recordings(vokgen, str(workdir))
