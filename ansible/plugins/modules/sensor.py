#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright: 2026 zorflash developers
# MIT License (see https://opensource.org/licenses/MIT)

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: sensor
short_description: Report or update the firmware of a tablet's pen-digitizer sensor
version_added: "1.0.0"
description:
  - Runs the C(zorflash) program installed on the target, always with C(--json), and
    nothing else of the target.
  - With I(state=present) it asks the sensor (C(zorflash --info --json)) and reports its
    family, product, mode, version, the version this zorflash carries and whether an update
    is available, as facts. Nothing is sent to the sensor.
  - With I(state=latest) it updates the sensor when it needs it (C(zorflash --update --json)).
    The task is C(changed) only when the sensor's firmware was written.
  - In check mode only C(zorflash --info --json) runs, whatever I(state) is; the task says
    whether an update would change the sensor.
  - With C(--diff) the version before and after is shown.
  - Every exit status of zorflash maps to one result (see I(result) below). Up to date and
    updated are successes; no sensor is a success with I(sensor.present=false), or a
    failure with I(require_sensor=true); every other outcome is a failure whose C(msg) is
    zorflash's own status line, and the return values keep zorflash's whole JSON object.
options:
  state:
    description:
      - C(present) reports the sensor and changes nothing.
      - C(latest) updates the sensor to the firmware this zorflash carries when it runs an
        older one.
    type: str
    choices: [present, latest]
    default: present
  firmware_dir:
    description:
      - A folder on the target that holds C(image-a.bin) or C(image-b.bin), passed as
        C(--firmware-dir). zorflash writes the image of the sensor's family from it instead
        of the one it carries.
    type: path
  family:
    description:
      - The family (0 or 1) of a sensor stuck in its boot loader that nothing on the target
        tells, passed as C(--family). C(0) if the sensor was product 0x0090 in normal mode,
        C(1) if it was 0x00E6. zorflash refuses it for any other sensor.
    type: int
    choices: [0, 1]
  require_sensor:
    description:
      - Fail when the target has no sensor. By default a target without one is C(ok), with
        I(sensor.present=false).
    type: bool
    default: false
  timeout:
    description:
      - Seconds zorflash may run. Then it is asked to end (SIGTERM); it does so at once
        unless it is writing the sensor, in which case it ends when the write has ended,
        as it does for a shutdown. If it has not ended I(timeout) seconds later it is
        killed. Either way the task fails.
      - An update takes about a minute on a real sensor; up to about three minutes when a
        block must be written again.
    type: int
    default: 600
  zorflash_path:
    description:
      - The program to run. The package installs it as C(/usr/bin/zorflash).
    type: path
    default: /usr/bin/zorflash
notes:
  - The target needs Python and the C(zorflash) package (its udev rule lets the console
    user open the sensor; run the module as root, with C(become), otherwise).
  - zorflash keeps one run per machine with a lock; a second run meanwhile fails with
    I(result=locked).
  - Environment variables for zorflash (as a simulated sensor needs) are given with the task
    keyword C(environment).
  - Supports check mode and diff mode.
  - zorflash's options, exit statuses and JSON object are in C(docs/linux.md) of its source
    and in C(man zorflash).
author:
  - zorflash developers (@zorflash)
'''

EXAMPLES = r'''
- name: Tell which tablets need the update, and change nothing
  zorflash.firmware.sensor:
    state: present
  register: pen

- name: Update the sensor when it needs it
  zorflash.firmware.sensor:
    state: latest
  become: true

- name: Write the vendor's images from a folder, and fail on a tablet without a sensor
  zorflash.firmware.sensor:
    state: latest
    firmware_dir: /srv/pen-firmware
    require_sensor: true
    timeout: 300
  become: true

- name: Finish the update of a sensor left in its boot loader, known to be product 0x00E6
  zorflash.firmware.sensor:
    state: latest
    family: 1
  become: true
'''

RETURN = r'''
result:
  description:
    - What happened, in one word or a few.
    - "C(up to date), C(updated), C(update available) (I(state=present)), C(would update)
      (check mode), C(does not fit) and C(family unknown) (the verdict, or the update's end),
      C(no sensor), C(failed), C(usage error), C(locked), C(no image), C(not back),
      C(record unsafe), or C(error) for an exit status zorflash does not give or a run that
      was stopped."
  returned: always
  type: str
  sample: updated
exit_status:
  description: zorflash's exit status, or -1 when it was stopped or could not be started.
  returned: always
  type: int
  sample: 0
before:
  description: The sensor's firmware version before the run, as zorflash words it (C(????) when
    it cannot be read, as in the boot loader); null without a sensor.
  returned: always
  type: str
  sample: "0140"
after:
  description: The version after the run; in check mode the version an update would bring.
  returned: always
  type: str
  sample: "0610"
seconds:
  description: How long zorflash ran, in seconds.
  returned: always
  type: float
  sample: 11.4
sensor:
  description: The sensor as zorflash found it, also set as the fact C(zorflash_sensor).
  returned: always
  type: dict
  contains:
    present:
      description: Whether a sensor was found.
      type: bool
    family:
      description: 0 or 1; null when unknown.
      type: int
    product_id:
      description: The USB product, as C(0x0090).
      type: str
    mode:
      description: C(normal) or C(boot loader).
      type: str
    version:
      description: The firmware version it runs.
      type: str
    carried_version:
      description: The version this zorflash writes to a sensor of its family.
      type: str
    verdict:
      description: zorflash's verdict, such as C(update available) or C(up to date).
      type: str
    update_available:
      description: Whether an update would change the sensor.
      type: bool
  sample:
    present: true
    family: 0
    product_id: "0x0090"
    mode: normal
    version: "0140"
    carried_version: "0610"
    verdict: update available
    update_available: true
zorflash:
  description: zorflash's whole JSON object (see docs/linux.md), as it printed it.
  returned: when zorflash printed one
  type: dict
  sample: {"program": "zorflash", "exitStatus": 0, "verdict": "up to date"}
stderr:
  description: What zorflash wrote on standard error (its view of the run, and refusals).
  returned: always
  type: str
'''

import json
import os
import signal
import subprocess
import time

from ansible.module_utils.basic import AnsibleModule

# zorflash's exit statuses (the --info and --update table): the result's words and whether
# the task fails. 0 is worded by the run; 3 depends on require_sensor.
EXIT_TABLE = {
    0: ('up to date', False),
    1: ('failed', True),
    3: ('no sensor', False),
    4: ('usage error', True),
    5: ('does not fit', True),
    6: ('locked', True),
    7: ('no image', True),
    8: ('not back', True),
    9: ('family unknown', True),
    10: ('record unsafe', True),
}

# Verdicts of --info that a run of --update would end in failure with.
FAILING_VERDICTS = {
    'this update does not fit this sensor': 'does not fit',
    'sensor in its boot loader, family unknown': 'family unknown',
}
NO_SENSOR_VERDICT = 'no sensor found'
UPDATE_VERDICT = 'update available'


def build_command(params, update):
    """The command line: the program, --info or --update, --json and the options given."""
    command = [params['zorflash_path'], '--update' if update else '--info', '--json']
    if params.get('firmware_dir'):
        command += ['--firmware-dir', params['firmware_dir']]
    if params.get('family') is not None:
        command += ['--family', str(params['family'])]
    return command


def run_zorflash(command, timeout):
    """Runs zorflash; returns (exit status, stdout, stderr, seconds, stopped)."""
    started = time.monotonic()
    try:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
    except OSError as error:
        return -1, '', 'cannot start %s: %s' % (command[0], error), 0.0, False
    stopped = False
    try:
        out, err = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        # zorflash ends on SIGTERM at once, or after a write it will not cut short.
        stopped = True
        process.send_signal(signal.SIGTERM)
        try:
            out, err = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            out, err = process.communicate()
    seconds = round(time.monotonic() - started, 3)
    status = -1 if stopped else process.returncode
    return status, out.decode('utf-8', 'replace'), err.decode('utf-8', 'replace'), seconds, stopped


def sensor_facts(report):
    """The sensor part of zorflash's object, in the module's words."""
    sensor = report.get('sensor') or {}
    verdict = report.get('verdict')
    return {
        'present': bool(sensor),
        'family': sensor.get('family'),
        'product_id': sensor.get('productId'),
        'mode': sensor.get('mode'),
        'version': sensor.get('version'),
        'carried_version': report.get('carriedVersion'),
        'verdict': verdict,
        'update_available': verdict == UPDATE_VERDICT,
    }


def status_line(report, fallback):
    """zorflash's own status line: the update's, else its refusal, else its verdict."""
    update = report.get('update') or {}
    for line in (update.get('status'), report.get('error'), report.get('verdict')):
        if line:
            return line.strip()
    return fallback


def outcome(report, exit_status, update, predict, require_sensor):
    """Maps one run of zorflash to (result, failed, changed, msg, before, after).

    `update`: the run was --update; `predict`: it was --info in place of an update (check
    mode with state=latest), so the verdict says what the update would do.
    """
    facts = sensor_facts(report)
    before = facts['version']
    after = before
    update_part = report.get('update') or {}
    if update_part:
        before = update_part.get('versionBefore', before)
        after = update_part.get('versionAfter', after)
    if not facts['present']:
        before = after = None
    if exit_status not in EXIT_TABLE:
        return ('error', True, False,
                status_line(report, 'zorflash ended with exit status %d' % exit_status),
                before, after)
    result, failed = EXIT_TABLE[exit_status]
    changed = False
    if exit_status == 3:
        failed = require_sensor
    elif exit_status == 0 and update:
        changed = update_part.get('end') == 'updated'
        result = 'updated' if changed else 'up to date'
    elif exit_status == 0:
        # --info: the verdict tells what an update would do.
        verdict = facts['verdict']
        if verdict in FAILING_VERDICTS:
            result = FAILING_VERDICTS[verdict]
            failed = predict
        elif verdict == UPDATE_VERDICT:
            result = 'would update' if predict else UPDATE_VERDICT
            changed = predict
            if predict:
                after = facts['carried_version']
    elif exit_status == 8:
        changed = True  # written and verified: the sensor's firmware did change
    msg = status_line(report, result)
    if exit_status == 3 and not failed:
        msg = 'no sensor found'
    return result, failed, changed, msg, before, after


def main():
    module = AnsibleModule(
        argument_spec=dict(
            state=dict(type='str', default='present', choices=['present', 'latest']),
            firmware_dir=dict(type='path'),
            family=dict(type='int', choices=[0, 1]),
            require_sensor=dict(type='bool', default=False),
            timeout=dict(type='int', default=600),
            zorflash_path=dict(type='path', default='/usr/bin/zorflash'),
        ),
        supports_check_mode=True,
    )
    params = module.params
    update = params['state'] == 'latest' and not module.check_mode
    if not os.path.isfile(params['zorflash_path']):
        module.fail_json(msg='%s is not installed' % params['zorflash_path'], result='error',
                         exit_status=-1, before=None, after=None, seconds=0.0,
                         sensor=sensor_facts({}), stderr='')
    command = build_command(params, update)
    exit_status, out, err, seconds, stopped = run_zorflash(command, params['timeout'])
    try:
        report = json.loads(out)
    except ValueError:
        report = None
    common = dict(exit_status=exit_status, seconds=seconds, stderr=err, cmd=command)
    if stopped:
        module.fail_json(msg='zorflash did not end within %d seconds and was stopped'
                         % params['timeout'], result='error', before=None, after=None,
                         sensor=sensor_facts(report or {}), zorflash=report, **common)
    if not isinstance(report, dict):
        last = err.strip().splitlines()[-1:] or ['no JSON object on standard output']
        module.fail_json(msg='zorflash ended with exit status %d: %s' % (exit_status, last[0]),
                         result='error', before=None, after=None, sensor=sensor_facts({}),
                         **common)
    result, failed, changed, msg, before, after = outcome(
        report, exit_status, update, params['state'] == 'latest' and module.check_mode,
        params['require_sensor'])
    facts = sensor_facts(report)
    returned = dict(changed=changed, result=result, before=before, after=after, sensor=facts,
                    zorflash=report, ansible_facts=dict(zorflash_sensor=facts), **common)
    if module._diff:
        returned['diff'] = dict(before='version: %s\n' % before, after='version: %s\n' % after)
    if failed:
        module.fail_json(msg=msg, **returned)
    module.exit_json(msg=msg, **returned)


if __name__ == '__main__':
    main()
