#!/usr/bin/env python3
"""Stores the five sign-in values where the editor reads them: the
[Corvane Editor Software] section of $XDG_CONFIG_HOME/Quillmark.ini, written
as Qt's INI format does. Other sections and keys are kept; a new file is
made readable by its owner only."""
import os, sys

def ini_value(v):
    # Qt quotes values that hold separators or leading/trailing blanks.
    if v == "" or v != v.strip() or any(c in v for c in ',;="\\') or v.startswith("@"):
        return '"' + v.replace("\\", "\\\\").replace('"', '\\"') + '"'
    return v

def main():
    server, port, user, password, database = sys.argv[1:6]
    config = os.environ.get("XDG_CONFIG_HOME") or os.path.join(os.path.expanduser("~"), ".config")
    os.makedirs(config, exist_ok=True)
    path = os.path.join(config, "Quillmark.ini")
    section = "[Corvane%20Editor%20Software]"
    values = {"MyServer": server, "MyUser": user, "MyPassword": password,
              "MyDatabase": database, "MyPort": port}
    lines = []
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            lines = f.read().splitlines()
    out, inside, done = [], False, False
    for line in lines:
        if line.startswith("["):
            if inside and not done:
                out += [f"{k}={ini_value(v)}" for k, v in values.items()]
                done = True
            inside = line.strip() == section
            out.append(line)
            continue
        if inside and line.split("=", 1)[0] in values:
            continue
        out.append(line)
    if not done:
        if not inside:
            if out and out[-1] != "":
                out.append("")
            out.append(section)
        out += [f"{k}={ini_value(v)}" for k, v in values.items()]
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
    with os.fdopen(fd, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")

if __name__ == "__main__":
    main()
