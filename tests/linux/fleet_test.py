#!/usr/bin/python3
"""A fleet of tablets updated by Ansible, on this machine.

Each host is a local connection with its own simulated sensor (zorflash-sim on its virtual
clock) kept in a state file of its own between runs, and its own lock and records (HOME and
XDG_RUNTIME_DIR). The collection is built and installed from its tarball; the rollout
playbook runs with forks in batches. Each host's result and the report are checked; then
the playbook runs again, and the hosts that were updated must be up to date and unchanged.

    fleet_test.py ZORFLASH_SIM COLLECTION_SOURCE
"""
import csv
import json
import os
import shutil
import subprocess
import sys
import tempfile

SIM, SOURCE = sys.argv[1], sys.argv[2]

# A sensor kept by hand: what a state file holds (see the simulated edition's state).
STUCK_WITHOUT_RECORD = ('zorflash-sim state 1\nfamily 0\nattached yes\nmode boot loader\n'
                        'version 0140\nreport5 0002\nreport6 0001\nimage erased\nmet 046d:c077\n')
BOTH_FAMILIES_RECORDED = ('zorflash-sim state 1\nfamily 0\nattached yes\nmode normal\n'
                          'version 0140\nreport5 0002\nreport6 0001\nimage valid\n'
                          'met 046d:c077 f0a5:0090 f0a5:00e6\n')

F0_NEW, F1_OLD, F1_NEW = '0610', '0139 P0002', '0139 P0006'
# host: (case, state file to start from, require_sensor,
#        first run: (result, failed, changed, before, after, message starts with),
#        second run: the same)
FLEET = {
    'current': ('uptodate', None, False,
                ('up to date', False, False, F0_NEW, F0_NEW, 'The current version matches'),
                ('up to date', False, False, F0_NEW, F0_NEW, 'The current version matches')),
    'f0-a': ('family0', None, False,
             ('updated', False, True, '0140', F0_NEW, 'Update complete.'),
             ('up to date', False, False, F0_NEW, F0_NEW, 'The current version matches')),
    'f0-b': ('family0', None, False,
             ('updated', False, True, '0140', F0_NEW, 'Update complete.'),
             ('up to date', False, False, F0_NEW, F0_NEW, 'The current version matches')),
    'f1-a': ('family1', None, False,
             ('updated', False, True, F1_OLD, F1_NEW, 'Update complete.'),
             ('up to date', False, False, F1_NEW, F1_NEW, 'The current version matches')),
    'f1-b': ('family1', None, False,
             ('updated', False, True, F1_OLD, F1_NEW, 'Update complete.'),
             ('up to date', False, False, F1_NEW, F1_NEW, 'The current version matches')),
    'misfit': ('mismatch', None, False,
               ('does not fit', True, False, '0200', '0200', 'Version Mismatch.'),
               ('does not fit', True, False, '0200', '0200', 'Version Mismatch.')),
    'bare': ('nosensor', None, False,
             ('no sensor', False, False, None, None, 'no sensor found'),
             ('no sensor', False, False, None, None, 'no sensor found')),
    'bare-required': ('nosensor', None, True,
                      ('no sensor', True, False, None, None, 'A connection was not established'),
                      ('no sensor', True, False, None, None, 'A connection was not established')),
    'stuck-recorded': ('bootloader', None, False,
                       ('updated', False, True, '????', F0_NEW, 'Update complete.'),
                       ('up to date', False, False, F0_NEW, F0_NEW, 'The current version matches')),
    'stuck-unknown': ('family0', STUCK_WITHOUT_RECORD, False,
                      ('family unknown', True, False, '????', '????', 'The sensor sits in its boot'),
                      ('family unknown', True, False, '????', '????', 'The sensor sits in its boot')),
    'refused': ('refused-block', None, False,
                ('failed', True, False, '0140', '0140', 'Program Error.'),
                ('failed', True, False, '????', '????', 'Program Error.')),
    # Written and verified, then gone: after a restart it runs the new firmware.
    'gone': ('no-return', None, False,
             ('not back', True, True, '0140', '0140', 'Update complete.'),
             ('up to date', False, False, F0_NEW, F0_NEW, 'The current version matches')),
    'cloned': ('family0', BOTH_FAMILIES_RECORDED, False,
               ('record unsafe', True, False, '0140', '0140', "This machine's record"),
               ('record unsafe', True, False, '0140', '0140', "This machine's record")),
}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def run(command, env, cwd):
    done = subprocess.run(command, env=env, cwd=cwd, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=False)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def inventory(root):
    hosts = {}
    for name, (case, seeded, required, _, _) in FLEET.items():
        home = os.path.join(root, 'hosts', name)
        os.makedirs(home, mode=0o700)
        state = os.path.join(home, 'sensor.state')
        if seeded:
            with open(state, 'w', encoding='ascii') as out:
                out.write(seeded)
        hosts[name] = {
            'ansible_connection': 'local',
            'ansible_python_interpreter': sys.executable,
            'zorflash_path': SIM,
            'zorflash_require_sensor': required,
            'zorflash_environment': {
                'ZORFLASH_SIM': case, 'ZORFLASH_SIM_FAST': '1', 'ZORFLASH_SIM_STATE': state,
                'HOME': home, 'XDG_RUNTIME_DIR': home,
            },
        }
    path = os.path.join(root, 'inventory.yml')
    with open(path, 'w', encoding='utf-8') as out:
        json.dump({'all': {'hosts': hosts}}, out)  # JSON is YAML
    return path


def module_results(output):
    """Each host's result of the sensor task, from the json callback's output."""
    tree = json.loads(output)
    found = {}
    for play in tree['plays']:
        for task in play['tasks']:
            if not task['task']['name'].endswith("Bring the sensor's firmware to the version zorflash carries"):
                continue
            for host, result in task['hosts'].items():
                found[host] = result
    return found, tree['stats']


def check_run(label, output, report_dir, which):
    results, stats = module_results(output)
    with open(os.path.join(report_dir, 'report.csv'), encoding='utf-8') as source:
        rows = {row['host']: row for row in csv.DictReader(source)}
    with open(os.path.join(report_dir, 'report.json'), encoding='utf-8') as source:
        lines = {line['host']: line for line in json.load(source)}
    check(sorted(rows) == sorted(FLEET), '%s: report.csv has one row per host: %s' % (label, sorted(rows)))
    check(sorted(lines) == sorted(FLEET), '%s: report.json has one line per host' % label)
    for host, spec in FLEET.items():
        result, failed, changed, before, after, message = spec[which]
        got = results.get(host, {})
        where = '%s %s' % (label, host)
        check(got.get('result') == result, '%s: result %r, not %r' % (where, got.get('result'), result))
        check(got.get('failed', False) == failed, '%s: failed %r' % (where, got.get('failed')))
        check(got.get('changed') == changed, '%s: changed %r' % (where, got.get('changed')))
        check((got.get('before'), got.get('after')) == (before, after),
              '%s: versions %r -> %r' % (where, got.get('before'), got.get('after')))
        check(str(got.get('msg', '')).startswith(message), '%s: msg %r' % (where, got.get('msg')))
        if failed:
            check(isinstance(got.get('zorflash'), dict) and 'exitStatus' in got['zorflash'],
                  '%s: the whole JSON object is kept' % where)
        check(stats.get(host, {}).get('failures', 0) == (1 if failed else 0),
              '%s: the host failed as its sensor did' % where)
        row = rows.get(host, {})
        check((row.get('before'), row.get('after'), row.get('result')) ==
              (before or '', after or '', result), '%s: report.csv row %r' % (where, row))
        line = lines.get(host, {})
        check((line.get('result'), line.get('failed'), line.get('changed')) == (result, failed, changed),
              '%s: report.json line %r' % (where, line))
        check(isinstance(line.get('seconds'), float), '%s: seconds %r' % (where, line.get('seconds')))


def main():
    root = tempfile.mkdtemp(prefix='zorflash-fleet.')
    try:
        # Ansible refuses to run unless the locale encoding is UTF-8.
        env = dict(os.environ, LC_ALL='C.UTF-8', HOME=os.path.join(root, 'control'),
                   ANSIBLE_COLLECTIONS_PATH=os.path.join(root, 'collections'),
                   ANSIBLE_LOCAL_TEMP=os.path.join(root, 'tmp'),
                   ANSIBLE_REMOTE_TEMP=os.path.join(root, 'tmp'),
                   ANSIBLE_STDOUT_CALLBACK='ansible.builtin.json',
                   ANSIBLE_NOCOLOR='1', ANSIBLE_RETRY_FILES_ENABLED='0',
                   ANSIBLE_HOST_KEY_CHECKING='0', ANSIBLE_PIPELINING='1', ANSIBLE_CONFIG=os.path.join(root, 'none.cfg'))
        os.makedirs(env['HOME'])
        status, out, err = run(['ansible-galaxy', 'collection', 'build', SOURCE,
                                '--output-path', root], env, root)
        if status != 0:
            sys.exit('collection build failed:\n' + out + err)
        tarball = os.path.join(root, 'zorflash-firmware-1.0.0.tar.gz')
        status, out, err = run(['ansible-galaxy', 'collection', 'install', tarball, '-p',
                                env['ANSIBLE_COLLECTIONS_PATH']], env, root)
        if status != 0:
            sys.exit('collection install failed:\n' + out + err)
        # The module's documentation reads from the installed collection.
        status, out, err = run(['ansible-doc', 'zorflash.firmware.sensor'], env, root)
        check(status == 0 and 'EXAMPLES:' in out and 'RETURN VALUES:' in out and 'state' in out,
              'ansible-doc zorflash.firmware.sensor: %d %s' % (status, (out + err)[-1000:]))
        hosts = inventory(root)
        for which, label in ((3, 'first run'), (4, 'second run')):
            report_dir = os.path.join(root, 'report')  # the second run replaces every line
            # A canary batch of three, then the rest; every host counts, whatever fails.
            status, out, err = run(['ansible-playbook', 'zorflash.firmware.rollout', '-i', hosts,
                                    '-f', '5', '-e', 'zorflash_report_dir=' + report_dir,
                                    '-e', '{"zorflash_serial": [3, "100%"]}'], env, root)
            check(status == 2, '%s: ansible-playbook ends 2 (hosts failed), not %d: %s'
                  % (label, status, err[-2000:]))
            try:
                check_run(label, out, report_dir, which)
            except (ValueError, KeyError, OSError) as error:
                failures.append('%s: %r\n%s\n%s' % (label, error, out[-3000:], err[-3000:]))
    finally:
        shutil.rmtree(root, ignore_errors=True)
    for failure in failures:
        print('FAIL ' + failure)
    print('%d hosts, two runs: %s' % (len(FLEET), 'failed' if failures else 'passed'))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
