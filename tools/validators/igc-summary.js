#!/usr/bin/env node
// Reads one IGC file with an independent parser and prints what it understood as JSON:
// the test suite compares that with what the program meant to write. Strict parsing:
// any line the parser cannot read is an error and the exit code is 1.
'use strict';

const fs = require('fs');
const IGCParser = require('igc-parser');

if (process.argv.length !== 3) {
    process.stderr.write('usage: igc-summary.js FILE.igc\n');
    process.exit(2);
}

let flight;
try {
    flight = IGCParser.parse(fs.readFileSync(process.argv[2], 'latin1'));
} catch (error) {
    process.stderr.write(`igc-parser: ${error.message}\n`);
    process.exit(1);
}

const fixes = flight.fixes;
const summary = {
    fixes: fixes.length,
    firstFixTime: fixes.length ? fixes[0].time : null,
    lastFixTime: fixes.length ? fixes[fixes.length - 1].time : null,
    firstFix: fixes.length ? fixes[0] : null,
    lastFix: fixes.length ? fixes[fixes.length - 1] : null,
    date: flight.date,
    loggerManufacturer: flight.loggerManufacturer,
    loggerId: flight.loggerId,
    pilot: flight.pilot,
    gliderType: flight.gliderType,
    registration: flight.registration,
    callsign: flight.callsign,
    competitionClass: flight.competitionClass,
    site: flight.site,
    loggerType: flight.loggerType,
    firmwareVersion: flight.firmwareVersion,
    hardwareVersion: flight.hardwareVersion,
    geoDatum: flight.geoDatum,
    security: flight.security,
    errors: flight.errors.map((error) => error.message),
};
process.stdout.write(JSON.stringify(summary) + '\n');
