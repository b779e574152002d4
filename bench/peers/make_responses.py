#!/usr/bin/env python3
"""Writes the comparison's canned responses into a directory: the typical
answer (tests/fixtures/service/typical_response.xml) and answers of N
activities, shaped as bench/response_bench.cpp makes them.

    make_responses.py OUTDIR NAMESPACE N...
"""
import os
import sys


def with_activities(ns: str, n: int) -> str:
    head = ('<?xml version="1.0" encoding="UTF-8"?><env:Envelope '
            'xmlns:env="http://schemas.xmlsoap.org/soap/envelope/" xmlns:srvc="' + ns +
            '"><env:Body><srvc:rgWsPublicAfmMethodResponse><RgWsPublicBasicRt_out><srvc:afm>094019245'
            '</srvc:afm></RgWsPublicBasicRt_out><arrayOfRgWsPublicFirmActRt_out>')
    item = ('<srvc:RgWsPublicFirmActRtUser><srvc:firmActDescr>WHOLESALE TRADE</srvc:firmActDescr>'
            '<srvc:firmActKind>1</srvc:firmActKind><srvc:firmActKindDescr>MAIN'
            '</srvc:firmActKindDescr><srvc:firmActCode>46190000</srvc:firmActCode>'
            '</srvc:RgWsPublicFirmActRtUser>')
    tail = ('</arrayOfRgWsPublicFirmActRt_out><pCallSeqId_out>123456789</pCallSeqId_out>'
            '<pErrorRec_out><srvc:errorDescr/><srvc:errorCode/></pErrorRec_out>'
            '</srvc:rgWsPublicAfmMethodResponse></env:Body></env:Envelope>')
    return head + item * n + tail


def main() -> None:
    out, ns = sys.argv[1], sys.argv[2]
    here = os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(here, '../../tests/fixtures/service/typical_response.xml'),
              encoding='utf-8') as f:
        typical = f.read().replace('@SERVICE_NAMESPACE@', ns)
    with open(os.path.join(out, 'typical.xml'), 'w', encoding='utf-8') as f:
        f.write(typical)
    for n in sys.argv[3:]:
        with open(os.path.join(out, f'n{n}.xml'), 'w', encoding='utf-8') as f:
            f.write(with_activities(ns, int(n)))


main()
