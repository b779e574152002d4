<?php
// The PHP side of the comparison (bench/compare.sh): SoapClient over the
// WSDL, with __doRequest answering the canned response, so one lookup is
// the request built and serialised and the response parsed, no network.
//   php php_peer.php WSDL RESPONSE_FILE REPETITIONS
//   php php_peer.php WSDL URL CA_FILE REPETITIONS     (the whole call over HTTPS)
// prints: median microseconds, peak resident kilobytes, activities read.

class CannedClient extends SoapClient {
    public $response = '';
    public $sent = 0;
    public function __doRequest($request, $location, $action, $version, $oneWay = false): ?string {
        $this->sent = strlen($request);
        return $this->response;
    }
}

$wsdl = $argv[1];
$endToEnd = str_starts_with($argv[2], 'https://');
$reps = max(1, (int)$argv[$endToEnd ? 4 : 3]);
$options = ['trace' => 0, 'cache_wsdl' => WSDL_CACHE_MEMORY,
            'features' => SOAP_SINGLE_ELEMENT_ARRAYS];
if ($endToEnd) {
    // A new connection per call, as the library makes.
    $options += ['location' => $argv[2], 'keep_alive' => false,
                 'stream_context' => stream_context_create(['ssl' => ['cafile' => $argv[3]]])];
    $client = new SoapClient($wsdl, $options);
    $password = 'secret';
    // The client keeps its connection while it lives: one client per call
    // gives each call its own (the description comes from the memory cache).
    $fresh = fn() => new SoapClient($wsdl, $options);
} else {
    $client = new CannedClient($wsdl, $options);
    $client->response = file_get_contents($argv[2]);
    $password = 'Pa&amp;ss&lt;word';
}
$security = new SoapHeader('http://schemas.xmlsoap.org/soap/envelope/', 'Security',
    new SoapVar('<SOAP-ENV:Security><SOAP-ENV:UsernameToken><SOAP-ENV:Username>USER'
        . '</SOAP-ENV:Username><SOAP-ENV:Password>' . $password . '</SOAP-ENV:Password>'
        . '</SOAP-ENV:UsernameToken></SOAP-ENV:Security>', XSD_ANYXML));
$times = [];
$count = 0;
for ($i = 0; $i < $reps; $i++) {
    $t0 = hrtime(true);
    if ($endToEnd) $client = $fresh();
    $out = $client->__soapCall('rgWsPublicAfmMethod', [
        ['afmCalledBy' => '012345678', 'afmCalledFor' => '094019245'],
        new stdClass(), new stdClass(), '0', new stdClass()], null, $security);
    $times[] = (hrtime(true) - $t0) / 1000.0;
    if (!$endToEnd && $client->sent == 0) { fwrite(STDERR, "nothing sent\n"); exit(1); }
    $acts = $out['arrayOfRgWsPublicFirmActRt_out'] ?? null;
    $count = ($acts && isset($acts->RgWsPublicFirmActRtUser)) ? count($acts->RgWsPublicFirmActRtUser) : 0;
}
sort($times);
$ru = getrusage();
printf("%.1f %d %d\n", $times[intdiv(count($times), 2)], $ru['ru_maxrss'], $count);
