#!/usr/bin/python3
# -*- coding: utf-8 -*-
"""Ansible module: run an orvane command that asks (Y/N) before changing the host."""

from __future__ import annotations

import os
import re
import subprocess

from ansible.module_utils.basic import AnsibleModule

DOCUMENTATION = r"""
module: orvane_change
short_description: Apply an orvane profile scene or settings file, or recover, answering (Y/N)
description:
  - Runs C(orvane profile SCENE CONF_DIR), C(orvane apply FILE) or C(orvane profile recover)
    and answers its (Y/N) question on standard input, Y normally and N in check mode, where
    orvane only prints its plan. The plan and orvane's report are returned as the task's diff.
  - The host counts as changed when orvane's change journal changed.
options:
  argv:
    description: The orvane command line, program first.
    type: list
    elements: str
    required: true
  state_dir:
    description: orvane's state directory (the journal), compared before and after the run.
    type: str
    default: /var/lib/orvane
  unchanged_pattern:
    description: In check mode, output that says the plan holds nothing to change.
    type: str
    default: (?i)nothing to (change|apply|restore|recover|do)|already (applied|active|set)
"""


def journal_snapshot(state_dir):
    """Names, sizes and modification times of the journal files (locks excluded)."""
    entries = []
    try:
        names = sorted(os.listdir(state_dir))
    except FileNotFoundError:
        return entries
    for name in names:
        if name.endswith(".lock") or name.startswith("."):
            continue
        st = os.stat(os.path.join(state_dir, name))
        entries.append((name, st.st_size, st.st_mtime_ns))
    return entries


def main():
    module = AnsibleModule(
        argument_spec=dict(
            argv=dict(type="list", elements="str", required=True),
            state_dir=dict(type="str", default="/var/lib/orvane"),
            unchanged_pattern=dict(
                type="str",
                default=r"(?i)nothing to (change|apply|restore|recover|do)|already (applied|active|set)",
            ),
        ),
        supports_check_mode=True,
    )
    argv = module.params["argv"]
    answer = "N" if module.check_mode else "Y"
    before = journal_snapshot(module.params["state_dir"])
    # orvane does not read the answer when there is nothing to ask (nothing to change or to
    # restore); communicate() tolerates the closed pipe where run_command(data=...) fails.
    try:
        proc = subprocess.run(argv, input=answer + "\n", capture_output=True, text=True,
                              errors="replace", check=False)
    except OSError as e:
        module.fail_json(msg="cannot run %s: %s" % (argv[0], e), cmd=argv)
    rc, out, err = proc.returncode, proc.stdout, proc.stderr
    after = journal_snapshot(module.params["state_dir"])

    text = out + (("\n" + err) if err else "")
    result = dict(
        cmd=argv,
        rc=rc,
        stdout=out,
        stderr=err,
        answer=answer,
        diff=dict(prepared="orvane answered %s to: %s\n%s" % (answer, " ".join(argv), text)),
    )
    if rc != 0:
        module.fail_json(msg="orvane exited with status %d: %s" % (rc, (err or out).strip()), **result)
    if module.check_mode:
        result["changed"] = not re.search(module.params["unchanged_pattern"], text)
    else:
        result["changed"] = before != after
    module.exit_json(**result)


if __name__ == "__main__":
    main()
