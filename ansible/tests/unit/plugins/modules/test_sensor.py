# -*- coding: utf-8 -*-
# Copyright: 2026 zorflash developers
# MIT License (see https://opensource.org/licenses/MIT)
"""Every exit status of zorflash, and each verdict of --info, as the sensor module words it."""

from __future__ import absolute_import, division, print_function
__metaclass__ = type

import importlib.util
import os
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SPEC = importlib.util.spec_from_file_location(
    'sensor', os.path.join(HERE, '..', '..', '..', '..', 'plugins', 'modules', 'sensor.py'))
sensor = importlib.util.module_from_spec(SPEC)
SPEC.loader.exec_module(sensor)

F0 = {'family': 0, 'productId': '0x0090', 'mode': 'normal', 'version': '0140'}


def report(verdict='update available', found=True, **update):
    """zorflash's object as --info (no update given) or --update prints it."""
    made = {'program': 'zorflash', 'sensor': F0 if found else None,
            'carriedVersion': '0610' if found else None, 'verdict': verdict}
    if update:
        made['update'] = dict({'versionBefore': '0140', 'versionAfter': '0140'}, **update)
    return made


# (label, object, exit status, update, predict, require_sensor,
#  result, failed, changed, msg, before, after)
CASES = [
    ('updated', report(end='updated', status='Update complete.', versionAfter='0610'), 0,
     True, False, False, 'updated', False, True, 'Update complete.', '0140', '0610'),
    ('already current', report('up to date', end='up to date', status='No update is needed.',
                               versionBefore='0610', versionAfter='0610'), 0,
     True, False, False, 'up to date', False, False, 'No update is needed.', '0610', '0610'),
    ('failed', report(end='failed', status='Program Error. '), 1,
     True, False, False, 'failed', True, False, 'Program Error.', '0140', '0140'),
    ('no sensor', report('no sensor found', False, end='no sensor', status='A connection was '
                         'not established.', versionBefore='????', versionAfter='????'), 3,
     True, False, False, 'no sensor', False, False, 'no sensor found', None, None),
    ('no sensor, required', report('no sensor found', False, end='no sensor', status='A '
                                   'connection was not established.'), 3,
     True, False, True, 'no sensor', True, False, 'A connection was not established.', None,
     None),
    ('usage', dict(report(), error='zorflash: unknown option --x'), 4,
     True, False, False, 'usage error', True, False, 'zorflash: unknown option --x', '0140',
     '0140'),
    ('does not fit', report('this update does not fit this sensor', end='does not fit',
                            status='Version Mismatch.'), 5,
     True, False, False, 'does not fit', True, False, 'Version Mismatch.', '0140', '0140'),
    ('locked', dict(report(), error='another zorflash is running'), 6,
     True, False, False, 'locked', True, False, 'another zorflash is running', '0140', '0140'),
    ('no image', report(end='no image', status='No image for it.'), 7,
     True, False, False, 'no image', True, False, 'No image for it.', '0140', '0140'),
    ('not back', report(end='not back', status='Update complete.'), 8,
     True, False, False, 'not back', True, True, 'Update complete.', '0140', '0140'),
    ('family unknown', report('sensor in its boot loader, family unknown',
                              end='family unknown', status='Give --family.'), 9,
     True, False, False, 'family unknown', True, False, 'Give --family.', '0140', '0140'),
    ('record unsafe', report(end='failed', status='The record would not tell.'), 10,
     True, False, False, 'record unsafe', True, False, 'The record would not tell.', '0140',
     '0140'),
    ('unknown status', dict(report(), error='the state cannot be read'), 2,
     True, False, False, 'error', True, False, 'the state cannot be read', '0140', '0140'),
    # --info for state=present: a verdict, never a failure.
    ('present, needs it', report(), 0,
     False, False, False, 'update available', False, False, 'update available', '0140', '0140'),
    ('present, misfit', report('this update does not fit this sensor'), 0,
     False, False, False, 'does not fit', False, False, 'this update does not fit this sensor',
     '0140', '0140'),
    # --info in check mode for state=latest: what the update would do.
    ('check, would update', report(), 0,
     False, True, False, 'would update', False, True, 'update available', '0140', '0610'),
    ('check, current', report('up to date'), 0,
     False, True, False, 'up to date', False, False, 'up to date', '0140', '0140'),
    ('check, misfit', report('this update does not fit this sensor'), 0,
     False, True, False, 'does not fit', True, False, 'this update does not fit this sensor',
     '0140', '0140'),
    ('check, family unknown', report('sensor in its boot loader, family unknown'), 0,
     False, True, False, 'family unknown', True, False,
     'sensor in its boot loader, family unknown', '0140', '0140'),
]


class OutcomeTest(unittest.TestCase):
    def test_every_exit_status_and_verdict(self):
        for (label, made, status, update, predict, required,
             result, failed, changed, msg, before, after) in CASES:
            with self.subTest(label):
                self.assertEqual((result, failed, changed, msg, before, after),
                                 sensor.outcome(made, status, update, predict, required))

    def test_every_exit_status_of_the_table_is_mapped(self):
        self.assertEqual({0, 1, 3, 4, 5, 6, 7, 8, 9, 10}, set(sensor.EXIT_TABLE))
        self.assertEqual(set(sensor.EXIT_TABLE) | {2},
                         {case[2] for case in CASES})

    def test_sensor_facts(self):
        facts = sensor.sensor_facts(report())
        self.assertEqual({'present': True, 'family': 0, 'product_id': '0x0090', 'mode': 'normal',
                          'version': '0140', 'carried_version': '0610',
                          'verdict': 'update available', 'update_available': True}, facts)
        self.assertFalse(sensor.sensor_facts(report('no sensor found', False))['present'])


class CommandTest(unittest.TestCase):
    def test_command_lines(self):
        rows = [
            ({}, False, ['/usr/bin/zorflash', '--info', '--json']),
            ({}, True, ['/usr/bin/zorflash', '--update', '--json']),
            ({'firmware_dir': '/srv/fw'}, True,
             ['/usr/bin/zorflash', '--update', '--json', '--firmware-dir', '/srv/fw']),
            ({'family': 0}, True, ['/usr/bin/zorflash', '--update', '--json', '--family', '0']),
            ({'family': 1, 'firmware_dir': '/d'}, False,
             ['/usr/bin/zorflash', '--info', '--json', '--firmware-dir', '/d', '--family', '1']),
        ]
        for given, update, expected in rows:
            params = dict({'zorflash_path': '/usr/bin/zorflash', 'firmware_dir': None,
                           'family': None}, **given)
            self.assertEqual(expected, sensor.build_command(params, update))


if __name__ == '__main__':
    unittest.main()
